#pragma once

// Who wrote the handwriting on the desktop canvas, and how it is drawn.
// User ink is a blue (#1e409a), agent ink a dark teal (#0b574d): both read as ink on the cream paper and
// stay apart from each other and from the paper's blue rules and red margin line.

#include "rirudez/canvasreplay/ReplayRecords.h"

#include <QColor>
#include <QString>

namespace rirudez {

enum class DesktopCanvasReplayRole { user, assistant };

// The style code every point of that role carries: 4.0 user, 5.0 assistant.
double rawStyleCode(DesktopCanvasReplayRole role);
// "You", "Agent".
QString displayLabel(DesktopCanvasReplayRole role);
QColor inkColor(DesktopCanvasReplayRole role);

} // namespace rirudez
