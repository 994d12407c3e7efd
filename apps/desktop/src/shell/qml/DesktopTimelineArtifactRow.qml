import QtQuick
import Rirudez.Shell

// A file or image a turn produced: its symbol, its title, and its kind.
Row {
    id: artifact
    required property string title
    required property string kind
    required property string icon

    spacing: 6
    Image {
        anchors.verticalCenter: parent.verticalCenter
        width: 14
        height: 14
        sourceSize: Qt.size(28, 28)
        source: "image://symbol/" + artifact.icon + "/" + String(ShellPalette.teal).substring(1)
    }
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: artifact.title
        color: ShellPalette.teal
        font.pixelSize: 12
        elide: Text.ElideMiddle
        width: Math.min(implicitWidth, (artifact.parent ? artifact.parent.width : 200) - 80)
    }
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: artifact.kind
        color: ShellPalette.faint
        font.pixelSize: 11
    }
}
