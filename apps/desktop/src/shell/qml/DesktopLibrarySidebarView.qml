import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Shell

// The library column: a search field over the desktop's conversations and their rows, newest first. While
// the list loads it says so, a failed load shows its message with Retry, and an empty list or search says
// that nothing is there.
Rectangle {
    id: sidebar
    // DesktopLibrarySidebarViewModel
    property QtObject viewModel
    property string title: "Library"
    readonly property string loadState: viewModel ? viewModel.loadStateName : "idle"
    readonly property alias searchField: search

    color: ShellPalette.rail

    Text {
        id: heading
        x: 16
        y: 14
        text: sidebar.title
        color: ShellPalette.sidebarMuted
        font.pixelSize: 12
        font.weight: Font.DemiBold
        font.capitalization: Font.AllUppercase
    }
    TextField {
        id: search
        objectName: "librarySearch"
        anchors.top: heading.bottom
        anchors.topMargin: 10
        x: 10
        width: parent.width - 20
        placeholderText: "Search conversations"
        placeholderTextColor: ShellPalette.sidebarMuted
        color: ShellPalette.sidebarInk
        font.pixelSize: 13
        selectByMouse: true
        background: Rectangle {
            radius: 6
            color: Qt.rgba(1, 1, 1, 0.08)
            border.color: search.activeFocus ? Qt.rgba(1, 1, 1, 0.45) : Qt.rgba(1, 1, 1, 0.16)
        }
        text: sidebar.viewModel ? sidebar.viewModel.searchText : ""
        onTextEdited: if (sidebar.viewModel) sidebar.viewModel.searchText = text
        Keys.onEscapePressed: (event) => {
            if (text.length > 0) {
                sidebar.viewModel.searchText = ""
                event.accepted = true
            } else {
                event.accepted = false
            }
        }
    }

    Column {
        id: status
        anchors.top: search.bottom
        anchors.topMargin: 12
        x: 16
        width: parent.width - 32
        spacing: 8
        visible: sidebar.loadState === "loading" || sidebar.loadState === "failed" || list.count === 0
        Text {
            objectName: "libraryStatus"
            width: parent.width
            wrapMode: Text.Wrap
            color: ShellPalette.sidebarMuted
            font.pixelSize: 12
            text: {
                if (!sidebar.viewModel)
                    return ""
                if (sidebar.loadState === "failed")
                    return sidebar.viewModel.loadFailureMessage
                if (sidebar.loadState === "loading" && list.count === 0)
                    return "Loading conversations…"
                if (list.count === 0)
                    return sidebar.viewModel.searchText.trim().length > 0
                            ? "No conversation matches “" + sidebar.viewModel.searchText.trim() + "”"
                            : "No conversations yet"
                return ""
            }
        }
        Button {
            visible: sidebar.loadState === "failed"
            text: "Retry"
            onClicked: sidebar.viewModel.requestReload()
        }
    }

    ListView {
        id: list
        objectName: "libraryList"
        anchors.top: search.bottom
        anchors.topMargin: 8
        anchors.bottom: parent.bottom
        width: parent.width
        clip: true
        spacing: 2
        boundsBehavior: Flickable.StopAtBounds
        model: sidebar.viewModel ? sidebar.viewModel.visibleEntries : []
        delegate: DesktopLibraryRow {
            required property var modelData
            x: 6
            width: ListView.view.width - 12
            entryID: modelData.id
            name: modelData.name
            secondary: modelData.secondary
            selected: modelData.selected
            current: modelData.current
            onActivated: sidebar.viewModel.select(modelData.id)
        }
        ScrollBar.vertical: ScrollBar {}
    }
}
