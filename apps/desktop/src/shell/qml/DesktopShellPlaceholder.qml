import QtQuick
import Rirudez.Shell

// What a column shows when it has nothing of its own yet: the column's symbol and a caption, centred.
Item {
    id: placeholder
    // The column's symbol name (`DesktopShellSlot`'s systemImage) and the caption under it.
    property string slotSymbol
    property string caption

    Column {
        anchors.centerIn: parent
        width: Math.min(parent.width - 40, 280)
        spacing: 10
        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 28
            height: 28
            sourceSize: Qt.size(56, 56)
            source: placeholder.slotSymbol.length > 0
                    ? "image://symbol/" + placeholder.slotSymbol + "/" + String(ShellPalette.faint).substring(1) : ""
        }
        Text {
            objectName: "placeholderCaption"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: placeholder.caption
            color: ShellPalette.muted
            font.pixelSize: 13
        }
    }
}
