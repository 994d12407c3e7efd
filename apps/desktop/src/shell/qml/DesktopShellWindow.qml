import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Window
import Rirudez.Shell
import Rirudez.LocalModels

// The shell: library | timeline | canvas | activity, and the local models sheet. Ctrl+B toggles the library,
// Ctrl+Shift+L opens the local models sheet, Esc closes it, Ctrl+W closes the window.
Window {
    id: shell
    property QtObject coordinator
    readonly property QtObject sel: coordinator ? coordinator.selection : null
    readonly property QtObject sidebar: coordinator ? coordinator.librarySidebarViewModel : null
    readonly property QtObject doc: coordinator ? coordinator.canvasDocument : null

    readonly property color paper: Qt.rgba(0.95, 0.96, 0.94, 1)
    readonly property color ink: Qt.rgba(0.06, 0.08, 0.06, 1)
    readonly property color muted: Qt.rgba(0.28, 0.34, 0.31, 1)
    readonly property color border: Qt.rgba(0, 0, 0, 0.22)
    readonly property color teal: Qt.rgba(0.04, 0.34, 0.30, 1)
    readonly property color rail: Qt.rgba(0.27, 0.28, 0.27, 1)

    width: 1400
    height: 860
    title: "Rirudez — " + (coordinator && coordinator.conversationTitle.length > 0 ? coordinator.conversationTitle : "Shell")
    color: paper

    Shortcut { sequence: "Ctrl+B"; onActivated: shell.coordinator.toggleSidebar() }
    Shortcut { sequence: "Ctrl+Shift+L"; onActivated: shell.coordinator.openLocalModels() }
    Shortcut { sequence: "Ctrl+W"; onActivated: shell.close() }
    Shortcut { sequence: "Esc"; enabled: shell.sel && shell.sel.isLocalModelsOpen; onActivated: shell.coordinator.dismissUtility() }

    component ColumnTitle: Text {
        font.pixelSize: 12; font.weight: Font.DemiBold; font.capitalization: Font.AllUppercase
        color: shell.muted; leftPadding: 14; topPadding: 14; bottomPadding: 8
    }

    Row {
        anchors.fill: parent

        // Library
        Rectangle {
            objectName: "librarySidebar"
            visible: shell.sel ? shell.sel.isSidebarVisible : true
            width: visible ? 250 : 0
            height: parent.height
            color: shell.rail
            Column {
                anchors.fill: parent
                ColumnTitle { text: "Library"; color: Qt.rgba(1, 1, 1, 0.6) }
                TextField {
                    objectName: "librarySearch"
                    x: 10; width: parent.width - 20
                    placeholderText: "Search conversations"
                    text: shell.sidebar ? shell.sidebar.searchText : ""
                    onTextEdited: shell.sidebar.searchText = text
                }
                Text {
                    visible: shell.sidebar && (shell.sidebar.loadStateName === "failed" || shell.sidebar.loadStateName === "loading")
                    text: shell.sidebar ? (shell.sidebar.loadStateName === "failed" ? shell.sidebar.loadFailureMessage : "Loading…") : ""
                    color: Qt.rgba(1, 1, 1, 0.7); leftPadding: 14; topPadding: 8; wrapMode: Text.Wrap; width: parent.width
                }
                ListView {
                    width: parent.width
                    height: parent.height - 100
                    clip: true
                    topMargin: 8
                    model: shell.sidebar ? shell.sidebar.visibleEntries : []
                    delegate: Rectangle {
                        objectName: "libraryRow"
                        required property var modelData
                        width: ListView.view.width
                        height: 52
                        color: modelData.selected ? Qt.rgba(1, 1, 1, 0.13) : "transparent"
                        Column {
                            anchors.verticalCenter: parent.verticalCenter
                            x: 14; width: parent.width - 28
                            Text { text: modelData.name; color: Qt.rgba(1, 1, 1, 0.92); font.pixelSize: 13; elide: Text.ElideRight; width: parent.width }
                            Text { text: modelData.secondary; color: Qt.rgba(1, 1, 1, 0.55); font.pixelSize: 11; elide: Text.ElideRight; width: parent.width }
                        }
                        MouseArea { anchors.fill: parent; onClicked: shell.sidebar.select(modelData.id) }
                    }
                }
            }
        }

        // Timeline
        Rectangle {
            objectName: "timelineColumn"
            width: 300; height: parent.height
            color: Qt.rgba(0.99, 0.99, 0.97, 1)
            border.color: shell.border
            ColumnTitle { id: tlTitle; text: "Timeline · " + (shell.coordinator ? shell.coordinator.timelineModel.turnCount : 0) + " turns" }
            ComboBox {
                id: roleFilter
                anchors.right: parent.right; anchors.rightMargin: 10; y: 8
                width: 110
                model: ["All", "You", "Agent"]
                onActivated: shell.coordinator.timelineModel.roleFilter = ["", "user", "assistant"][currentIndex]
            }
            Text {
                anchors.centerIn: parent
                visible: shell.coordinator && shell.coordinator.timelineModel.turnCount === 0
                text: "No turns yet"
                color: shell.muted
            }
            ListView {
                anchors.top: tlTitle.bottom; anchors.topMargin: 8
                anchors.bottom: parent.bottom; width: parent.width
                clip: true
                spacing: 6
                model: shell.coordinator ? shell.coordinator.timelineModel : null
                delegate: Rectangle {
                    required property string turnID
                    required property string roleLabel
                    required property string content
                    required property string timeLabel
                    required property var artifacts
                    width: ListView.view.width - 20; x: 10
                    height: col.implicitHeight + 16
                    radius: 8
                    color: shell.sel && shell.sel.timelineID === turnID ? Qt.rgba(0.04, 0.34, 0.30, 0.12) : "white"
                    border.color: shell.border
                    Column {
                        id: col
                        x: 10; y: 8; width: parent.width - 20; spacing: 3
                        Text { text: roleLabel + "  ·  " + timeLabel; color: shell.muted; font.pixelSize: 11 }
                        Text { text: content; wrapMode: Text.Wrap; width: parent.width; maximumLineCount: 4; elide: Text.ElideRight; color: shell.ink; font.pixelSize: 13 }
                        Repeater {
                            model: artifacts
                            Text { required property var modelData; text: "📄 " + modelData.title; color: shell.teal; font.pixelSize: 12 }
                        }
                    }
                    MouseArea { anchors.fill: parent; onClicked: shell.coordinator.selectTimelineItem(turnID) }
                }
            }
        }

        // Canvas
        Rectangle {
            id: canvasColumn
            objectName: "canvasColumn"
            width: parent.width - (shell.sel && shell.sel.isSidebarVisible ? 250 : 0) - 300 - 320
            height: parent.height
            color: Qt.rgba(0.86, 0.86, 0.83, 1)
            Column {
                anchors.centerIn: parent
                visible: !shell.doc || shell.doc.isEmpty
                spacing: 10
                Text { anchors.horizontalCenter: parent.horizontalCenter; text: "✎"; font.pixelSize: 40; color: shell.muted }
                Text { width: 300; horizontalAlignment: Text.AlignHCenter; wrapMode: Text.Wrap; text: shell.doc ? shell.doc.emptyCaption : ""; color: shell.muted }
            }
            Rectangle {
                id: banner
                objectName: "truncationBanner"
                visible: shell.doc && shell.doc.truncated
                anchors.top: parent.top; width: parent.width; height: visible ? 34 : 0; z: 2
                color: Qt.rgba(0.99, 0.93, 0.80, 1)
                Text { anchors.centerIn: parent; text: shell.doc ? shell.doc.truncationCaption : ""; color: shell.ink }
            }
            ListView {
                id: pages
                objectName: "canvasPages"
                visible: shell.doc && !shell.doc.isEmpty
                anchors.top: banner.bottom; anchors.bottom: parent.bottom; width: parent.width
                clip: true
                spacing: 14
                topMargin: 14; bottomMargin: 14
                cacheBuffer: 0
                readonly property real pageScale: shell.doc && shell.doc.pageWidth > 0 ? Math.min(1, (width - 40) / shell.doc.pageWidth) : 1
                Accessible.name: shell.doc ? shell.doc.accessibilityLabel : ""
                model: shell.doc ? shell.doc.pageCount : 0
                delegate: DesktopCanvasReplayPageItem {
                    required property int index
                    x: (pages.width - width) / 2
                    width: shell.doc.pageWidth * pages.pageScale
                    height: shell.doc.pageHeight * pages.pageScale
                    document: shell.doc
                    pageIndex: index
                }
                ScrollBar.vertical: ScrollBar {}
            }
        }

        // Activity
        Rectangle {
            objectName: "activityColumn"
            width: 320; height: parent.height
            color: Qt.rgba(0.88, 0.91, 0.89, 1)
            ColumnTitle { id: actTitle; text: "Bridge activity" }
            Button {
                anchors.right: parent.right; anchors.rightMargin: 10; y: 8
                objectName: "openLocalModelsButton"
                text: "Local models"
                onClicked: shell.coordinator.openLocalModels()
            }
            Rectangle {
                id: notice
                anchors.top: actTitle.bottom; x: 10; width: parent.width - 20
                visible: shell.coordinator && shell.coordinator.activityStore.notice.length > 0
                height: visible ? noticeText.implicitHeight + 16 : 0
                radius: 6; color: Qt.rgba(0.99, 0.90, 0.86, 1)
                Text { id: noticeText; x: 8; y: 8; width: parent.width - 40; wrapMode: Text.Wrap; text: shell.coordinator ? shell.coordinator.activityStore.notice : ""; font.pixelSize: 12 }
                Text { anchors.right: parent.right; anchors.rightMargin: 8; y: 6; text: "✕"; MouseArea { anchors.fill: parent; onClicked: shell.coordinator.activityStore.dismissNotice() } }
            }
            Text {
                anchors.centerIn: parent
                visible: shell.coordinator && shell.coordinator.recentActivity.length === 0
                text: "No bridge activity yet"
                color: shell.muted
            }
            ListView {
                anchors.top: notice.bottom; anchors.topMargin: 6; anchors.bottom: parent.bottom; width: parent.width
                clip: true
                model: shell.coordinator ? shell.coordinator.recentActivity : []
                delegate: Rectangle {
                    required property var modelData
                    required property int index
                    width: ListView.view.width - 20; x: 10
                    height: index === 0 ? 62 : 40
                    radius: 6
                    color: index === 0 ? "white" : "transparent"
                    readonly property color tint: modelData.kind === "failed" ? Qt.rgba(0.91, 0.19, 0.13, 1) : (modelData.kind === "completed" ? shell.teal : shell.muted)
                    Image { x: 8; anchors.verticalCenter: parent.verticalCenter; width: 16; height: 16; source: "image://symbol/" + modelData.symbol + "/" + String(parent.tint).substring(1) }
                    Column {
                        x: 32; anchors.verticalCenter: parent.verticalCenter; width: parent.width - 40
                        Text { text: modelData.title; elide: Text.ElideRight; width: parent.width; color: shell.ink; font.pixelSize: 12; font.weight: index === 0 ? Font.DemiBold : Font.Normal }
                        Text { text: modelData.time + (modelData.context.length > 0 ? " · " + modelData.context : ""); elide: Text.ElideRight; width: parent.width; color: shell.muted; font.pixelSize: 11 }
                    }
                }
            }
        }
    }

    // The utility sheet
    Popup {
        objectName: "localModelsSheet"
        visible: shell.sel ? shell.sel.isLocalModelsOpen : false
        modal: true
        anchors.centerIn: parent
        width: Math.min(640, shell.width - 80)
        height: shell.height - 80
        padding: 0
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
        onClosed: if (shell.sel && shell.sel.isLocalModelsOpen) shell.coordinator.dismissUtility()
        Loader {
            anchors.fill: parent
            active: shell.coordinator && shell.coordinator.localModelsViewModel !== null && shell.sel.isLocalModelsOpen
            sourceComponent: LocalModelsView { viewModel: shell.coordinator.localModelsViewModel }
        }
    }
}
