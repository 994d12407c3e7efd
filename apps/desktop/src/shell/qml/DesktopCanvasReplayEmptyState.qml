import QtQuick
import Rirudez.Shell

// The canvas with nothing to draw: a pencil and the caption.
DesktopShellPlaceholder {
    objectName: "canvasEmptyState"
    slotSymbol: "pencil.and.outline"
}
