import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// Top of the session column: rail toggle, title over subtitle, chips, new-thread and inspector toggles.
Rectangle {
    id: header
    // The visible session's title and subtitle, and the agent, model and access of the composer.
    required property string title
    required property string subtitle
    required property string agentSymbol
    required property string agentName
    // The model chip shows only while a model is selected.
    required property bool hasModel
    required property string modelName
    required property string accessName
    signal toggleProjectRail()
    signal toggleInspector()
    signal newThread()
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
        helpText: HarnessLabels.toggleProjects
        onClicked: header.toggleProjectRail()
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
            text: header.title
            elide: Text.ElideRight
            color: HarnessPalette.ink
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
        Text {
            objectName: "sessionSubtitle"
            width: parent.width
            text: header.subtitle
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
            symbol: header.agentSymbol
            text: header.agentName
        }
        Chip {
            objectName: "modelChip"
            visible: header.hasModel
            symbol: "eye"
            text: header.modelName
        }
        Chip {
            objectName: "accessChip"
            symbol: "lock.open"
            text: header.accessName
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
        helpText: HarnessLabels.openShell
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
        helpText: HarnessLabels.newThread
        onClicked: header.newThread()
    }
    SymbolButton {
        id: inspectorToggle
        objectName: "toggleInspectorButton"
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        symbol: "sidebar.right"
        tint: HarnessPalette.muted
        helpText: HarnessLabels.toggleControls
        onClicked: header.toggleInspector()
    }
}
