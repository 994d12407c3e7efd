import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// A small flat button that shows one symbol (and optionally a title).
AbstractButton {
    id: control
    property string symbol
    property color tint: HarnessPalette.ink
    property int symbolSize: 16
    property color hoverColor: HarnessPalette.shade
    property bool selected: false
    property color selectedColor: HarnessPalette.shadePressed
    property string helpText

    implicitWidth: content.implicitWidth + 12
    implicitHeight: Math.max(28, content.implicitHeight + 8)
    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    Accessible.name: text.length > 0 ? text : (helpText.length > 0 ? helpText : symbol)
    ToolTip.visible: helpText.length > 0 && hovered
    ToolTip.text: helpText
    ToolTip.delay: 600

    background: Rectangle {
        radius: 7
        color: control.selected ? control.selectedColor : (control.hovered || control.down ? control.hoverColor : "transparent")
    }
    contentItem: Row {
        id: content
        spacing: 6
        anchors.centerIn: parent
        Symbol {
            anchors.verticalCenter: parent.verticalCenter
            name: control.symbol
            color: control.enabled ? control.tint : Qt.rgba(control.tint.r, control.tint.g, control.tint.b, 0.35)
            size: control.symbolSize
        }
        Text {
            visible: control.text.length > 0
            anchors.verticalCenter: parent.verticalCenter
            text: control.text
            color: control.tint
            font.pixelSize: 13
        }
    }
}
