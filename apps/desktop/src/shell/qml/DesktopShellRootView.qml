import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Shell
import Rirudez.LocalModels

// The shell's four columns, left to right: the library (hidden with Ctrl+B), the timeline of the selected
// conversation, its canvas, and the bridge activity; and the one utility sheet (the local models screen)
// over them while `activeUtilitySlot` is set. Selecting a turn brings its writing into view on the canvas.
Item {
    id: root
    // DesktopShellCoordinator
    property QtObject coordinator
    readonly property QtObject selection: coordinator ? coordinator.selection : null
    readonly property var slotInfo: coordinator ? coordinator.shellSlots : ({})
    readonly property bool hasConversation: selection !== null && selection.libraryID.length > 0
    readonly property alias librarySidebar: library

    function slotTitle(name, fallback) { return slotInfo[name] ? slotInfo[name].title : fallback }

    DesktopLibrarySidebarView {
        id: library
        objectName: "librarySidebar"
        visible: root.selection ? root.selection.isSidebarVisible : true
        width: visible ? Math.round(Math.max(220, Math.min(280, root.width * 0.18))) : 0
        height: parent.height
        title: root.slotTitle("library", "Library")
        viewModel: root.coordinator ? root.coordinator.librarySidebarViewModel : null
    }
    DesktopTimelineView {
        id: timeline
        objectName: "timelineColumn"
        anchors.left: library.right
        width: Math.round(Math.max(260, Math.min(360, root.width * 0.22)))
        height: parent.height
        title: root.slotTitle("timeline", "Timeline")
        model: root.coordinator ? root.coordinator.timelineModel : null
        selectedTurnID: root.selection ? root.selection.timelineID : ""
        hasConversation: root.hasConversation
        onTurnActivated: (turnID) => root.coordinator.selectTimelineItem(turnID)
    }
    Rectangle {
        anchors.left: timeline.right
        width: 1
        height: parent.height
        color: ShellPalette.border
    }
    DesktopCanvasReplayView {
        id: canvas
        objectName: "canvasColumn"
        anchors.left: timeline.right
        anchors.leftMargin: 1
        anchors.right: activity.left
        height: parent.height
        document: root.coordinator ? root.coordinator.canvasDocument : null
        hasConversation: root.hasConversation
    }
    DesktopBridgeActivityView {
        id: activity
        objectName: "activityColumn"
        anchors.right: parent.right
        width: Math.round(Math.max(260, Math.min(340, root.width * 0.21)))
        height: parent.height
        title: root.slotTitle("detail", "Activity")
        entries: root.coordinator ? root.coordinator.recentActivity : []
        notice: root.coordinator ? root.coordinator.activityStore.notice : ""
        onNoticeDismissed: root.coordinator.activityStore.dismissNotice()
        onLocalModelsRequested: root.coordinator.openLocalModels()
    }

    Connections {
        target: root.selection
        function onChanged() {
            const id = root.selection.timelineID
            if (id.length > 0 && root.coordinator.canvasDocument)
                canvas.pagesView.revealGlobalY(root.coordinator.canvasDocument.blockTopY(id))
        }
    }

    // The utility sheet.
    Popup {
        id: sheet
        objectName: "localModelsSheet"
        visible: root.selection ? root.selection.isLocalModelsOpen : false
        modal: true
        focus: true
        anchors.centerIn: parent
        width: Math.min(680, root.width - 80)
        height: root.height - 80
        padding: 0
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
        onClosed: if (root.selection && root.selection.isLocalModelsOpen) root.coordinator.dismissUtility()
        background: Rectangle { radius: 10; color: ShellPalette.paper; border.color: ShellPalette.border }
        Loader {
            objectName: "localModelsSheetContent"
            anchors.fill: parent
            clip: true
            active: sheet.visible && root.coordinator !== null && root.coordinator.localModelsViewModel !== null
            sourceComponent: LocalModelsView { viewModel: root.coordinator.localModelsViewModel }
        }
        Button {
            // The screen has its own title; Done sits in the sheet's top-right corner.
            objectName: "closeLocalModelsButton"
            anchors.right: parent.right
            anchors.rightMargin: 20
            anchors.top: parent.top
            anchors.topMargin: 20
            z: 2
            text: "Done"
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "Close the sheet (Esc)"
            onClicked: root.coordinator.dismissUtility()
        }
    }
}
