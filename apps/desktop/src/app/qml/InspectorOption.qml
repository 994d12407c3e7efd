import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// One choice of an inspector section: symbol, title, optional subtitle; highlighted when current.
AbstractButton {
    id: option
    required property string symbol
    required property string title
    property string subtitle
    required property bool isCurrent

    implicitHeight: subtitle.length > 0 ? 46 : 34
    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    Accessible.name: title

    background: Rectangle {
        radius: 9
        color: option.isCurrent ? HarnessPalette.panelStrong : (option.hovered ? HarnessPalette.optionHover : "transparent")
        border.color: option.isCurrent ? HarnessPalette.border : "transparent"
        border.width: 1
    }
    contentItem: Item {
        Symbol {
            id: icon
            visible: option.symbol.length > 0
            x: 10
            anchors.verticalCenter: parent.verticalCenter
            name: option.symbol
            color: option.isCurrent ? HarnessPalette.ink : HarnessPalette.muted
            size: 15
        }
        Column {
            anchors.left: icon.visible ? icon.right : parent.left
            anchors.leftMargin: 10
            anchors.right: check.left
            anchors.verticalCenter: parent.verticalCenter
            spacing: 1
            Text {
                width: parent.width
                text: option.title
                elide: Text.ElideRight
                color: HarnessPalette.ink
                font.pixelSize: 13
                font.weight: option.isCurrent ? Font.DemiBold : Font.Normal
            }
            Text {
                visible: option.subtitle.length > 0
                width: parent.width
                text: option.subtitle
                elide: Text.ElideRight
                color: HarnessPalette.muted
                font.pixelSize: 11
            }
        }
        Symbol {
            id: check
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            visible: option.isCurrent
            name: "checkmark"
            color: HarnessPalette.teal
            size: 14
        }
    }
}
