#pragma once

// The timeline of a desktop conversation thread.
//
// - Every user message is a user turn; its attached images are its artifacts.
// - Assistant text is an assistant turn. Pieces of text with only activity lines (tools, status) between
//   them form one turn: directly consecutive pieces are joined as they are, others with a blank line.
// - A completion is an assistant turn only when its turn produced no text (its summary is the answer then).
// - A created file is an artifact of the latest turn before it; with no turn yet it opens an assistant turn
//   without text.
// - Status, tool, command, diff, approval and failure lines are activity, not turns.
// Turn ids are the ids of the events they come from.

#include "DesktopTimelineHistory.h"

#include "DesktopCodingHarnessModels.h"

namespace rirudez::DesktopTimelineThreadAdapter {

DesktopTimelineHistory history(const DesktopCodingThread &thread);

} // namespace rirudez::DesktopTimelineThreadAdapter
