#pragma once

// The composer's choices as the QML type DesktopCodingComposerSelection: the composer and the inspector
// require that one object rather than the whole view model. The view model makes it; QML cannot.

#include "DesktopCodingComposerSelection.h"

#include <QtQml/qqml.h>

namespace rirudez {

struct DesktopCodingComposerSelectionForeign {
    Q_GADGET
    QML_FOREIGN(rirudez::DesktopCodingComposerSelection)
    QML_NAMED_ELEMENT(DesktopCodingComposerSelection)
    QML_UNCREATABLE("The coding view model makes the composer selection.")
};

} // namespace rirudez
