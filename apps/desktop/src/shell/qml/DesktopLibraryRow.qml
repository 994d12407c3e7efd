import QtQuick
import Rirudez.Shell

// One conversation in the library: its name and, under it, when it changed and its project. The selected
// row is lit; the conversation open on the conversation screen carries a dot.
Rectangle {
    id: row
    required property string entryID
    required property string name
    required property string secondary
    required property bool selected
    required property bool current
    signal activated()

    objectName: "libraryRow_" + entryID
    height: 52
    radius: 6
    color: selected ? ShellPalette.sidebarSelected : (hover.hovered ? Qt.rgba(1, 1, 1, 0.06) : "transparent")

    HoverHandler { id: hover }
    Rectangle {
        visible: row.current
        x: 6
        anchors.verticalCenter: parent.verticalCenter
        width: 5
        height: 5
        radius: 2.5
        color: ShellPalette.sidebarInk
    }
    Column {
        anchors.verticalCenter: parent.verticalCenter
        x: 16
        width: parent.width - 28
        spacing: 2
        Text {
            width: parent.width
            text: row.name
            elide: Text.ElideRight
            color: ShellPalette.sidebarInk
            font.pixelSize: 13
            font.weight: row.selected ? Font.DemiBold : Font.Normal
        }
        Text {
            width: parent.width
            text: row.secondary
            elide: Text.ElideRight
            color: ShellPalette.sidebarMuted
            font.pixelSize: 11
        }
    }
    TapHandler { onTapped: row.activated() }
}
