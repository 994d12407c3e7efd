import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// The right column: agent, model, mode, thinking level, web access, and the request preview.
Rectangle {
    id: inspector
    objectName: "inspector"
    // The composer's choices, the selected project's id (for the request preview) and the screen's state
    // (collapsing, labels, the request preview).
    required property DesktopCodingComposerSelection selection
    required property string projectID
    required property DesktopCodingHarnessViewState viewState

    readonly property DesktopCodingComposerSelection sel: selection
    readonly property DesktopCodingHarnessViewState st: viewState

    color: HarnessPalette.inspector

    Item {
        id: inspectorHeader
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        height: 52
        SymbolButton {
            objectName: "collapseInspectorButton"
            anchors.left: parent.left
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            symbol: "sidebar.right"
            tint: HarnessPalette.muted
            helpText: HarnessLabels.collapseControls
            onClicked: inspector.st.isInspectorCollapsed = true
        }
        Text {
            anchors.left: parent.left
            anchors.leftMargin: 48
            anchors.verticalCenter: parent.verticalCenter
            text: HarnessLabels.controls
            color: HarnessPalette.ink
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
    }

    Flickable {
        id: scroller
        anchors.top: inspectorHeader.bottom
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        contentHeight: body.implicitHeight + 24
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        Column {
            id: body
            x: 14
            width: scroller.width - 28
            spacing: 4

            SectionTitle { text: HarnessLabels.agentSection; topPadding: 6; bottomPadding: 2 }
            Repeater {
                model: HarnessLabels.agentOptions
                delegate: InspectorOption {
                    required property var modelData
                    objectName: "agentOption_" + modelData.id
                    width: body.width
                    symbol: modelData.symbol
                    title: modelData.title
                    isCurrent: inspector.sel.agent === modelData.id
                    onClicked: inspector.sel.chooseAgentByID(modelData.id)
                }
            }

            SectionTitle { text: HarnessLabels.modelSection; topPadding: 12; bottomPadding: 2 }
            Repeater {
                model: inspector.sel.modelOptions
                delegate: InspectorOption {
                    required property var modelData
                    objectName: "inspectorModelOption_" + modelData.id
                    width: body.width
                    symbol: "bolt"
                    title: modelData.displayName
                    subtitle: modelData.speedLabel || ""
                    isCurrent: inspector.sel.selectedModel.id === modelData.id
                    onClicked: inspector.sel.chooseModelByID(modelData.id)
                }
            }

            SectionTitle { text: HarnessLabels.modeSection; topPadding: 12; bottomPadding: 2 }
            Repeater {
                model: HarnessLabels.runtimeModeOptions
                delegate: InspectorOption {
                    required property var modelData
                    objectName: "modeOption_" + modelData.id
                    width: body.width
                    symbol: modelData.symbol
                    title: modelData.title
                    subtitle: modelData.subtitle
                    isCurrent: inspector.sel.runtimeMode === modelData.id
                    onClicked: inspector.sel.chooseRuntimeModeByID(modelData.id)
                }
            }

            SectionTitle { text: HarnessLabels.thinkSection; topPadding: 12; bottomPadding: 2 }
            Flow {
                width: body.width
                spacing: 6
                Repeater {
                    model: inspector.sel.thinkingOptions
                    delegate: AbstractButton {
                        required property string modelData
                        readonly property bool isCurrent: inspector.sel.thinking === modelData
                        objectName: "thinkOption_" + modelData
                        implicitWidth: label.implicitWidth + 20
                        implicitHeight: 28
                        hoverEnabled: true
                        focusPolicy: Qt.NoFocus
                        Accessible.name: label.text
                        background: Rectangle {
                            radius: 14
                            color: parent.isCurrent ? HarnessPalette.selected : HarnessPalette.panelStrong
                            border.color: HarnessPalette.border
                            border.width: parent.isCurrent ? 0 : 1
                        }
                        contentItem: Text {
                            id: label
                            text: inspector.st.thinkingLabel(modelData)
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                            color: parent.isCurrent ? HarnessPalette.onDark : HarnessPalette.ink
                            font.pixelSize: 12
                        }
                        onClicked: inspector.sel.chooseThinkingByID(modelData)
                    }
                }
            }

            Item {
                width: body.width
                height: 44
                Row {
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 10
                    Symbol { name: "globe"; color: HarnessPalette.muted; size: 15; anchors.verticalCenter: parent.verticalCenter }
                    Text { text: HarnessLabels.web; color: HarnessPalette.ink; font.pixelSize: 13; anchors.verticalCenter: parent.verticalCenter }
                }
                Switch {
                    id: webSwitch
                    objectName: "webSwitch"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    checked: inspector.sel.allowWeb
                    onToggled: inspector.sel.allowWeb = checked
                    Accessible.name: HarnessLabels.web
                    indicator: Rectangle {
                        implicitWidth: 38
                        implicitHeight: 22
                        x: webSwitch.leftPadding
                        y: parent.height / 2 - height / 2
                        radius: 11
                        color: webSwitch.checked ? HarnessPalette.teal : HarnessPalette.shadeOff
                        Rectangle {
                            x: webSwitch.checked ? parent.width - width - 2 : 2
                            y: 2
                            width: 18
                            height: 18
                            radius: 9
                            color: HarnessPalette.onDark
                            Behavior on x { NumberAnimation { duration: 120 } }
                        }
                    }
                }
            }

            SectionTitle { text: HarnessLabels.requestSection; topPadding: 6; bottomPadding: 4 }
            Rectangle {
                objectName: "requestPreview"
                width: body.width
                height: preview.implicitHeight + 16
                radius: 10
                color: HarnessPalette.panel
                border.color: HarnessPalette.border
                border.width: 1
                Column {
                    id: preview
                    x: 10
                    y: 8
                    width: parent.width - 20
                    spacing: 3
                    Repeater {
                        model: inspector.st.requestPreview(inspector.projectID, inspector.sel.agent, inspector.sel.selectedModel.id || "",
                                                          inspector.sel.runtimeMode, inspector.sel.thinking, inspector.sel.allowWeb)
                        delegate: Row {
                            required property var modelData
                            Text {
                                width: 74
                                text: modelData.label
                                color: HarnessPalette.muted
                                font.pixelSize: 12
                                font.family: "monospace"
                            }
                            Text {
                                objectName: "requestValue_" + modelData.label
                                width: preview.width - 74
                                text: modelData.value
                                elide: Text.ElideRight
                                color: HarnessPalette.ink
                                font.pixelSize: 12
                                font.family: "monospace"
                            }
                        }
                    }
                }
            }
        }
    }
}
