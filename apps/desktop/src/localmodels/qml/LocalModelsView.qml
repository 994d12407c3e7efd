import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Rirudez.LocalModels

// The local models screen: which provider the companion should use, the local server's address, whether it
// answers, and the helper. Five sections, top to bottom. It refreshes whenever it is shown; Ctrl+R or F5
// refreshes again. All logic lives in the view model.
Pane {
    id: view
    required property LocalModelsViewModel viewModel

    // The desktop's light palette.
    readonly property color ink: Qt.rgba(0.06, 0.08, 0.06, 1)
    readonly property color muted: Qt.rgba(0.28, 0.34, 0.31, 1)
    readonly property color border: Qt.rgba(0, 0, 0, 0.22)
    readonly property color teal: Qt.rgba(0.04, 0.34, 0.30, 1)
    readonly property color red: Qt.rgba(0.91, 0.19, 0.13, 1)
    readonly property color panel: Qt.rgba(0.99, 0.99, 0.96, 1)

    padding: 24
    background: Rectangle { color: Qt.rgba(0.95, 0.96, 0.94, 1) }

    Component.onCompleted: if (visible) viewModel.requestRefresh()
    onVisibleChanged: if (visible) viewModel.requestRefresh()

    Shortcut {
        sequences: [StandardKey.Refresh, "Ctrl+R"]
        enabled: view.visible
        onActivated: view.viewModel.requestRefresh()
    }

    component SectionBox: Rectangle {
        default property alias content: column.data
        property alias title: heading.text
        Layout.fillWidth: true
        implicitHeight: column.implicitHeight + 28
        radius: 8
        color: view.panel
        border.color: view.border
        ColumnLayout {
            id: column
            anchors.fill: parent
            anchors.margins: 14
            spacing: 8
            Label {
                id: heading
                font.bold: true
                color: view.ink
                visible: text.length > 0
            }
        }
    }

    // One status line: a check or a cross, a title and an optional detail.
    component StatusRow: RowLayout {
        property string title
        property bool satisfied
        property string detail
        Layout.fillWidth: true
        spacing: 8
        Label {
            objectName: "statusMark"
            text: parent.satisfied ? "✓" : "✗"
            color: parent.satisfied ? view.teal : view.red
            font.bold: true
        }
        Label {
            text: parent.title
            color: view.ink
        }
        Label {
            Layout.fillWidth: true
            text: parent.detail
            color: view.muted
            elide: Text.ElideRight
            horizontalAlignment: Text.AlignRight
        }
    }

    ScrollView {
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            width: parent.width
            spacing: 14

            // headerSection
            ColumnLayout {
                objectName: "headerSection"
                Layout.fillWidth: true
                spacing: 4
                Label {
                    text: "Local Models"
                    font.pixelSize: 22
                    font.bold: true
                    color: view.ink
                }
                Label {
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    color: view.muted
                    text: "Check the tablet companion's local server: the provider it uses, whether it answers, and whether it needs pairing."
                }
            }

            // providerSection
            SectionBox {
                objectName: "providerSection"
                title: "Provider"
                Repeater {
                    model: view.viewModel.providerOptions
                    delegate: ItemDelegate {
                        required property var modelData
                        objectName: "providerRow_" + modelData.id
                        Layout.fillWidth: true
                        checkable: true
                        checked: view.viewModel.selectedProviderID === modelData.id
                        onClicked: view.viewModel.selectProviderID(modelData.id)
                        contentItem: RowLayout {
                            spacing: 10
                            Label {
                                text: parent.parent.checked ? "●" : "○"
                                color: view.teal
                            }
                            ColumnLayout {
                                spacing: 0
                                Label { text: modelData.title; color: view.ink; font.bold: true }
                                Label { text: modelData.subtitle; color: view.muted }
                            }
                        }
                    }
                }
            }

            // endpointSection
            SectionBox {
                objectName: "endpointSection"
                title: "Server"
                TextField {
                    id: baseURLField
                    objectName: "baseURLField"
                    Layout.fillWidth: true
                    placeholderText: "http://127.0.0.1:8765"
                    text: view.viewModel.baseURL
                    inputMethodHints: Qt.ImhUrlCharactersOnly | Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
                    selectByMouse: true
                    background: Rectangle { radius: 6; color: "white"; border.color: baseURLField.activeFocus ? view.teal : view.border }
                    onEditingFinished: view.viewModel.applyBaseURL(text)
                    onAccepted: view.viewModel.requestRefresh()
                }
                TextField {
                    id: tokenField
                    objectName: "tokenField"
                    Layout.fillWidth: true
                    placeholderText: "Token (optional)"
                    echoMode: TextInput.Password
                    text: view.viewModel.token
                    selectByMouse: true
                    background: Rectangle { radius: 6; color: "white"; border.color: tokenField.activeFocus ? view.teal : view.border }
                    onTextEdited: view.viewModel.token = text
                    onAccepted: view.viewModel.requestRefresh()
                }
                Label {
                    objectName: "guidanceHeadline"
                    text: view.viewModel.guidanceHeadline
                    color: view.ink
                }
                Label {
                    objectName: "guidanceDetail"
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    text: view.viewModel.guidanceDetail
                    color: view.muted
                }
            }

            // statusSection
            SectionBox {
                objectName: "statusSection"
                RowLayout {
                    Layout.fillWidth: true
                    Label { text: "Status"; font.bold: true; color: view.ink }
                    BusyIndicator {
                        objectName: "refreshProgress"
                        visible: view.viewModel.isRefreshing
                        running: visible
                        implicitWidth: 18
                        implicitHeight: 18
                    }
                    Item { Layout.fillWidth: true }
                }
                StatusRow {
                    objectName: "statusRow_reachable"
                    title: "Server answers"
                    satisfied: view.viewModel.isReachable
                    detail: view.viewModel.reachabilityDetail
                }
                StatusRow {
                    objectName: "statusRow_provider"
                    title: "Provider signed in"
                    satisfied: view.viewModel.isProviderReady
                    detail: view.viewModel.providerDetail
                }
                StatusRow {
                    objectName: "statusRow_pairing"
                    visible: view.viewModel.requiresPairing
                    title: "Pairing required"
                    satisfied: false
                    detail: view.viewModel.pairingDetail
                }
                Label {
                    objectName: "errorLine"
                    Layout.fillWidth: true
                    visible: text.length > 0
                    wrapMode: Text.WordWrap
                    text: view.viewModel.errorText
                    color: view.red
                }
                Button {
                    objectName: "refreshButton"
                    text: view.viewModel.isRefreshing ? "Checking…" : "Refresh"
                    enabled: !view.viewModel.isRefreshing
                    onClicked: {
                        view.viewModel.applyBaseURL(baseURLField.text)
                        view.viewModel.requestRefresh()
                    }
                }
            }

            // affordanceSection
            SectionBox {
                objectName: "affordanceSection"
                title: "Helper"
                Label {
                    objectName: "affordanceText"
                    Layout.fillWidth: true
                    wrapMode: Text.WordWrap
                    text: view.viewModel.affordanceText
                    color: view.muted
                }
                Button {
                    objectName: "helperButton"
                    text: view.viewModel.affordanceTitle
                    enabled: view.viewModel.affordanceActionable
                    icon.source: "image://symbol/" + view.viewModel.affordanceSymbol + "/" + String(view.ink).substring(1)
                    onClicked: view.viewModel.performHelperAction()
                }
            }
        }
    }
}
