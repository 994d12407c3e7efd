import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// The conversation screen: project rail | session column (header, conversation, composer) | inspector.
// It reads the view model and forwards the user's actions to it; every decision is made in C++.
Rectangle {
    id: screen
    objectName: "desktopCodingHarnessView"

    // The one view model (DesktopCodingHarnessViewModel) and the screen's own state. Each part of the screen
    // is given the objects and values it uses, no more.
    required property QtObject viewModel
    required property DesktopCodingHarnessViewState viewState
    // Which threads have news (DesktopNotificationCenter) and the rail's search (DesktopThreadSearchModel).
    required property QtObject notifications
    required property QtObject threadSearch
    // The Bridges sheet's controller (RootView.bridges); null when there is none, and then the sheet is
    // unavailable.
    required property QtObject bridges
    // Emitted once the screen is on the window; the root view starts the bridge refresh then.
    signal shown()
    // The user asked for the shell window.
    signal shellRequested()

    readonly property QtObject vm: viewModel
    readonly property DesktopCodingHarnessViewState st: viewState

    // The screen always renders in the light scheme: every colour below comes from the fixed palette.
    color: HarnessPalette.paper
    palette.window: HarnessPalette.paper
    palette.windowText: HarnessPalette.ink
    palette.base: HarnessPalette.panelStrong
    palette.text: HarnessPalette.ink
    palette.button: HarnessPalette.panel
    palette.buttonText: HarnessPalette.ink
    palette.highlight: HarnessPalette.teal
    palette.highlightedText: HarnessPalette.onDark

    Component.onCompleted: screen.shown()

    // Keyboard: Ctrl+Enter sends (Cmd+Enter on macOS), Esc stops a running turn, Ctrl+N starts a chat.
    Shortcut {
        sequences: ["Ctrl+Return", "Ctrl+Enter"]
        context: Qt.WindowShortcut
        onActivated: if (screen.vm && screen.vm.canSendPrompt) screen.vm.requestSendPrompt()
    }
    // Ctrl+F opens the rail's thread search (and the rail when folded); Esc clears and closes it.
    Shortcut {
        sequence: StandardKey.Find
        context: Qt.WindowShortcut
        onActivated: {
            if (screen.st)
                screen.st.isProjectRailCollapsed = false
            if (screen.threadSearch)
                screen.threadSearch.open()
        }
    }
    Shortcut {
        sequence: "Esc"
        context: Qt.WindowShortcut
        onActivated: {
            if (screen.st && screen.st.composerPicker !== DesktopCodingHarnessViewState.ComposerPicker.none)
                screen.st.closeComposerPicker()
            else if (screen.threadSearch && screen.threadSearch.isOpen)
                screen.threadSearch.close()
            else if (screen.vm && screen.vm.canCancelPrompt)
                screen.vm.requestCancelActiveRepoMessage()
        }
    }
    Shortcut {
        sequence: "Ctrl+N"
        context: Qt.WindowShortcut
        onActivated: if (screen.vm) screen.vm.startThread()
    }

    Row {
        anchors.fill: parent

        Loader {
            id: leftColumn
            objectName: "leftColumn"
            height: parent.height
            width: screen.st && screen.st.isProjectRailCollapsed ? 52 : (screen.st ? screen.st.projectRailWidth(screen.width) : 240)
            sourceComponent: screen.st && screen.st.isProjectRailCollapsed ? collapsedProjectRail : projectRail
        }
        Rectangle { width: 1; height: parent.height; color: HarnessPalette.border }

        Rectangle {
            id: sessionColumn
            objectName: "sessionColumn"
            height: parent.height
            width: Math.max(0, screen.width - leftColumn.width - 1 - 1 - rightColumn.width)
            color: HarnessPalette.center

            SessionHeader {
                id: header
                anchors.top: parent.top
                anchors.left: parent.left
                anchors.right: parent.right
                title: screen.vm.visibleSessionTitle
                subtitle: screen.st.sessionSubtitle(screen.vm.selectedProject.id || "", screen.vm.selectedModel.id || "", screen.vm.selectedPermission)
                agentSymbol: screen.st.agentSymbol(screen.vm.selectedAgent)
                agentName: screen.st.agentDisplayName(screen.vm.selectedAgent)
                hasModel: !!screen.vm.selectedModel.id
                modelName: screen.vm.selectedModel.displayName || ""
                accessName: screen.st.accessDisplayName(screen.vm.selectedAccess)
                onToggleProjectRail: screen.st.toggleProjectRail()
                onToggleInspector: screen.st.toggleInspector()
                onNewThread: screen.vm.startThread()
                onShellRequested: screen.shellRequested()
            }
            Rectangle {
                id: headerRule
                anchors.top: header.bottom
                width: parent.width
                height: 1
                color: HarnessPalette.border
            }
            // While the bridge cannot be reached: why, and a way to ask again now (the 4 s polls go on too).
            Rectangle {
                id: unreachable
                objectName: "bridgeUnreachableBanner"
                readonly property string reason: screen.vm.bridgeRefreshError
                anchors.top: headerRule.bottom
                width: parent.width
                visible: reason.length > 0
                height: visible ? bannerRow.implicitHeight + 16 : 0
                color: HarnessPalette.panelStrong
                Row {
                    id: bannerRow
                    x: 16
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 10
                    Symbol { name: "exclamationmark.triangle"; color: HarnessPalette.red; size: 16; anchors.verticalCenter: parent.verticalCenter }
                    Text {
                        objectName: "bridgeUnreachableReason"
                        width: Math.max(0, unreachable.width - 32 - 26 - retryButton.width - 20)
                        anchors.verticalCenter: parent.verticalCenter
                        text: HarnessLabels.bridgeUnreachable(unreachable.reason)
                        color: HarnessPalette.ink
                        font.pixelSize: 13
                        wrapMode: Text.Wrap
                    }
                    Button {
                        id: retryButton
                        objectName: "bridgeRetryButton"
                        text: HarnessLabels.retry
                        anchors.verticalCenter: parent.verticalCenter
                        onClicked: screen.vm.retryBridgeConnection()
                    }
                }
            }
            ConversationStream {
                anchors.top: unreachable.bottom
                anchors.bottom: composer.top
                anchors.left: parent.left
                anchors.right: parent.right
                events: screen.vm.chatEventModel
                viewState: screen.st
                onRespondToApproval: (approvalID, decision) => screen.vm.requestRespondToApproval(approvalID, decision)
            }
            Composer {
                id: composer
                anchors.bottom: parent.bottom
                anchors.left: parent.left
                anchors.right: parent.right
                selection: screen.vm.composerSelection
                viewState: screen.st
                sending: screen.vm.isSending
                canSend: screen.vm.canSendPrompt
                canStop: screen.vm.canCancelPrompt
                onSendRequested: screen.vm.requestSendPrompt()
                onStopRequested: screen.vm.requestCancelActiveRepoMessage()
            }
        }

        Rectangle { width: 1; height: parent.height; color: HarnessPalette.border }
        Loader {
            id: rightColumn
            objectName: "rightColumn"
            height: parent.height
            width: screen.st && screen.st.isInspectorCollapsed ? 52 : (screen.st ? screen.st.inspectorWidth(screen.width) : 300)
            sourceComponent: screen.st && screen.st.isInspectorCollapsed ? collapsedInspector : inspector
        }
    }

    Component {
        id: projectRail
        ProjectRail {
            viewModel: screen.vm
            notifications: screen.notifications
            threadSearch: screen.threadSearch
            bridgeName: screen.bridges && screen.bridges.selectedBridgeID !== "" ? screen.bridges.selectedBridgeName : HarnessLabels.localBridge
            canOpenBridges: screen.bridges !== null
            onCollapse: screen.st.isProjectRailCollapsed = true
            onBridgesRequested: bridgesSheet.open()
        }
    }
    Component {
        id: collapsedProjectRail
        CollapsedRail {
            objectName: "collapsedProjectRail"
            title: HarnessLabels.projects
            symbol: "sidebar.left"
            dark: true
            onExpand: screen.st.isProjectRailCollapsed = false
        }
    }
    Component {
        id: inspector
        Inspector {
            selection: screen.vm.composerSelection
            projectID: screen.vm.selectedProject.id || ""
            viewState: screen.st
        }
    }
    Component {
        id: collapsedInspector
        CollapsedRail {
            objectName: "collapsedInspector"
            title: HarnessLabels.controls
            symbol: "slider.horizontal.3"
            onExpand: screen.st.isInspectorCollapsed = false
        }
    }

    // The Bridges sheet is built the first time it is asked for, so the first frame waits neither for it nor
    // for the dialog, layout and camera modules it imports. Once built it stays. The loader covers the screen:
    // the sheet centres itself in it.
    Loader {
        id: bridgesSheet
        objectName: "bridgesSheetLoader"
        anchors.fill: parent
        function open() {
            if (!item)
                setSource("BridgesSheet.qml", { bridges: screen.bridges })
            if (item)
                item.open()
        }
    }
}
