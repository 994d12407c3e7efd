import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// Top of the session column: rail toggle, title over subtitle, chips, new-thread and inspector toggles.
Rectangle {
    id: header
    property QtObject vm
    property DesktopCodingHarnessViewState st
    signal shellRequested()

    height: 60
    color: HarnessPalette.center

    SymbolButton {
        id: railToggle
        objectName: "toggleProjectRailButton"
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        symbol: "sidebar.left"
        tint: HarnessPalette.muted
        helpText: "Toggle projects"
        onClicked: header.st.toggleProjectRail()
    }

    Column {
        anchors.left: railToggle.right
        anchors.leftMargin: 10
        anchors.right: chips.left
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2
        Text {
            objectName: "sessionTitle"
            width: parent.width
            text: header.vm ? header.vm.visibleSessionTitle : ""
            elide: Text.ElideRight
            color: HarnessPalette.ink
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
        Text {
            objectName: "sessionSubtitle"
            width: parent.width
            text: header.vm && header.st
                  ? header.st.sessionSubtitle(header.vm.selectedProject.id || "", header.vm.selectedModel.id || "", header.vm.selectedPermission)
                  : ""
            elide: Text.ElideRight
            color: HarnessPalette.muted
            font.pixelSize: 12
        }
    }

    Row {
        id: chips
        anchors.right: openShell.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        spacing: 6
        Chip {
            objectName: "agentChip"
            symbol: header.st ? header.st.agentSymbol(header.vm ? header.vm.selectedAgent : "") : ""
            text: header.st ? header.st.agentDisplayName(header.vm ? header.vm.selectedAgent : "") : ""
        }
        Chip {
            objectName: "modelChip"
            visible: header.vm !== null && !!header.vm.selectedModel.id
            symbol: "eye"
            text: header.vm ? (header.vm.selectedModel.displayName || "") : ""
        }
        Chip {
            objectName: "accessChip"
            symbol: "lock.open"
            text: header.st && header.vm ? header.st.accessDisplayName(header.vm.selectedAccess) : ""
        }
    }
    SymbolButton {
        id: openShell
        objectName: "openShellButton"
        anchors.right: newThread.left
        anchors.rightMargin: 4
        anchors.verticalCenter: parent.verticalCenter
        symbol: "pencil.and.outline"
        tint: HarnessPalette.muted
        helpText: "Open the shell: timeline, canvas and activity (Ctrl+Shift+K)"
        onClicked: header.shellRequested()
    }
    SymbolButton {
        id: newThread
        objectName: "newThreadButton"
        anchors.right: inspectorToggle.left
        anchors.rightMargin: 4
        anchors.verticalCenter: parent.verticalCenter
        symbol: "plus.bubble"
        tint: HarnessPalette.muted
        helpText: "New thread"
        onClicked: header.vm.startThread()
    }
    SymbolButton {
        id: inspectorToggle
        objectName: "toggleInspectorButton"
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        symbol: "sidebar.right"
        tint: HarnessPalette.muted
        helpText: "Toggle controls"
        onClicked: header.st.toggleInspector()
    }
}
