import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// A titled panel with a close button around a grid of option buttons; the current option is selected.
// `options` is a list of {id, title, subtitle}.
Rectangle {
    id: panel
    required property string title
    required property var options
    required property string currentID
    required property string optionPrefix
    signal close()
    signal chosen(string id)

    implicitHeight: layout.implicitHeight + 20
    radius: 12
    color: HarnessPalette.panel
    border.color: HarnessPalette.border
    border.width: 1

    Column {
        id: layout
        x: 10
        y: 10
        width: parent.width - 20
        spacing: 8
        Item {
            width: parent.width
            height: 24
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: panel.title
                color: HarnessPalette.ink
                font.pixelSize: 13
                font.weight: Font.DemiBold
            }
            SymbolButton {
                objectName: "closePickerButton"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                symbol: "xmark"
                tint: HarnessPalette.muted
                helpText: HarnessLabels.close
                onClicked: panel.close()
            }
        }
        Grid {
            id: grid
            width: parent.width
            columns: Math.max(1, Math.floor((width + 8) / 168))
            spacing: 8
            Repeater {
                model: panel.options
                delegate: AbstractButton {
                    required property var modelData
                    readonly property bool isCurrent: modelData.id === panel.currentID
                    objectName: panel.optionPrefix + modelData.id
                    width: (grid.width - (grid.columns - 1) * grid.spacing) / grid.columns
                    height: modelData.subtitle ? 48 : 34
                    hoverEnabled: true
                    focusPolicy: Qt.NoFocus
                    checkable: false
                    checked: isCurrent
                    Accessible.name: modelData.title
                    background: Rectangle {
                        radius: 9
                        color: parent.isCurrent ? HarnessPalette.selected : (parent.hovered ? HarnessPalette.shadeHoverStrong : HarnessPalette.panelStrong)
                        border.color: HarnessPalette.border
                        border.width: parent.isCurrent ? 0 : 1
                    }
                    contentItem: Column {
                        leftPadding: 10
                        topPadding: parent.modelData.subtitle ? 7 : 9
                        spacing: 2
                        Text {
                            text: modelData.title
                            color: parent.parent.isCurrent ? HarnessPalette.onDark : HarnessPalette.ink
                            font.pixelSize: 13
                        }
                        Text {
                            visible: !!modelData.subtitle
                            text: modelData.subtitle || ""
                            color: parent.parent.isCurrent ? HarnessPalette.onDarkMuted : HarnessPalette.muted
                            font.pixelSize: 11
                        }
                    }
                    onClicked: panel.chosen(modelData.id)
                }
            }
        }
    }
}
