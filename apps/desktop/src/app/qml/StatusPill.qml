import QtQuick
import Rirudez.Desktop

// A symbol, a title and a value on the dark rail.
Rectangle {
    id: pill
    required property string symbol
    required property string title
    required property string value

    implicitHeight: 34
    radius: 9
    color: HarnessPalette.sidebarSelected

    Row {
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        spacing: 8
        Symbol { name: pill.symbol; color: HarnessPalette.sidebarMuted; size: 15; anchors.verticalCenter: parent.verticalCenter }
        Text { text: pill.title; color: HarnessPalette.sidebarMuted; font.pixelSize: 12; anchors.verticalCenter: parent.verticalCenter }
    }
    Text {
        objectName: "pillValue"
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        text: pill.value
        color: HarnessPalette.sidebarInk
        font.pixelSize: 12
        font.weight: Font.DemiBold
    }
}
