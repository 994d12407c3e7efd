import QtQuick
import Rirudez.Shell

// The timeline with no rows: no conversation selected, a conversation without turns, or a role filter that
// hides every turn.
DesktopShellPlaceholder {
    objectName: "timelineEmptyState"
    slotSymbol: "clock"
}
