import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// One thread of the selected project: symbol, title and subtitle; highlighted when selected.
AbstractButton {
    id: row
    // Threads with something new show a badge.
    required property bool hasNews
    required property string threadID
    required property string title
    required property string subtitle
    required property bool isSelected
    required property int index

    objectName: "threadRow_" + threadID
    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    Accessible.name: title

    background: Rectangle {
        radius: 8
        color: row.isSelected ? HarnessPalette.sidebarSelected : (row.hovered ? HarnessPalette.sidebarHover : "transparent")
    }
    contentItem: Item {
        Symbol {
            id: icon
            x: 8
            anchors.verticalCenter: parent.verticalCenter
            width: 18
            size: 16
            name: row.isSelected ? "bubble.left.and.text.bubble.right.fill" : "bubble.left.and.text.bubble.right"
            color: row.isSelected ? HarnessPalette.sidebarInk : HarnessPalette.sidebarMuted
        }
        Column {
            anchors.left: icon.right
            anchors.leftMargin: 10
            anchors.right: badge.visible ? badge.left : parent.right
            anchors.rightMargin: 6
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2
            Text {
                width: parent.width
                text: row.title
                elide: Text.ElideRight
                color: HarnessPalette.sidebarInk
                font.pixelSize: 13
                font.weight: row.isSelected || row.hasNews ? Font.DemiBold : Font.Normal
            }
            Text {
                width: parent.width
                text: row.subtitle
                elide: Text.ElideRight
                color: HarnessPalette.sidebarFaint
                font.pixelSize: 11
            }
        }
        Rectangle {
            id: badge
            objectName: "newsBadge_" + row.threadID
            visible: row.hasNews
            anchors.right: parent.right
            anchors.rightMargin: 4
            anchors.verticalCenter: parent.verticalCenter
            width: 8
            height: 8
            radius: 4
            color: HarnessPalette.red
            Accessible.name: HarnessLabels.newActivity
        }
    }
    // The row was clicked: the rail opens the thread.
    signal activated()
    onClicked: activated()
}
