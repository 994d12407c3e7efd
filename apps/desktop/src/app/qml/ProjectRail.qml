import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// The dark left column: actions, pinned threads, projects and the two status pills. While a search is typed,
// the matching threads of every project take the place of the pinned threads and the projects.
Rectangle {
    id: rail
    objectName: "projectRail"
    property QtObject vm
    property QtObject bridges
    // The Bridge pill was clicked: the screen opens the Bridges sheet.
    signal bridgesRequested()
    property DesktopCodingHarnessViewState st
    property QtObject notifications
    property QtObject threadSearch
    readonly property bool searching: threadSearch !== null && threadSearch.isSearching

    // What a button at the top of the rail does.
    enum Action { None, NewChat, Search }

    color: HarnessPalette.rail

    Item {
        id: railHeader
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        height: 52
        Text {
            anchors.left: parent.left
            anchors.leftMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            text: "Projects"
            color: HarnessPalette.sidebarInk
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
        SymbolButton {
            objectName: "collapseProjectRailButton"
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            symbol: "sidebar.left"
            tint: HarnessPalette.sidebarMuted
            hoverColor: HarnessPalette.sidebarSelected
            helpText: "Collapse projects"
            onClicked: rail.st.isProjectRailCollapsed = true
        }
    }

    Flickable {
        id: scroller
        anchors.top: railHeader.bottom
        anchors.bottom: pills.top
        anchors.bottomMargin: 8
        anchors.left: parent.left
        anchors.right: parent.right
        contentHeight: body.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        Column {
            id: body
            width: scroller.width
            spacing: 2
            leftPadding: 8
            rightPadding: 8

            Repeater {
                model: [
                    { symbol: "square.and.pencil", title: "New chat", action: ProjectRail.Action.NewChat },
                    { symbol: "magnifyingglass", title: "Search", action: ProjectRail.Action.Search },
                    { symbol: "circle.grid.2x2", title: "Plugins", action: ProjectRail.Action.None },
                    { symbol: "clock", title: "Automations", action: ProjectRail.Action.None }
                ]
                delegate: AbstractButton {
                    required property var modelData
                    objectName: modelData.action === ProjectRail.Action.NewChat ? "newChatButton" : (modelData.action === ProjectRail.Action.Search ? "searchButton" : "railAction")
                    width: body.width - 16
                    height: 32
                    hoverEnabled: true
                    focusPolicy: Qt.NoFocus
                    Accessible.name: modelData.title
                    background: Rectangle { radius: 7; color: parent.hovered ? HarnessPalette.sidebarSelected : "transparent" }
                    contentItem: Row {
                        spacing: 10
                        leftPadding: 8
                        Symbol { name: modelData.symbol; color: HarnessPalette.sidebarMuted; size: 16; anchors.verticalCenter: parent.verticalCenter }
                        Text { text: modelData.title; color: HarnessPalette.sidebarInk; font.pixelSize: 13; anchors.verticalCenter: parent.verticalCenter }
                    }
                    onClicked: {
                        if (modelData.action === ProjectRail.Action.NewChat)
                            rail.vm.startThread()
                        else if (modelData.action === ProjectRail.Action.Search && rail.threadSearch)
                            rail.threadSearch.open()
                    }
                }
            }

            // The search field: opened by Search or Ctrl+F; typing filters, Esc clears and closes it.
            TextField {
                id: searchField
                objectName: "threadSearchField"
                visible: rail.threadSearch !== null && rail.threadSearch.isOpen
                width: body.width - 16
                height: visible ? 32 : 0
                placeholderText: "Search threads"
                placeholderTextColor: HarnessPalette.sidebarFaint
                color: HarnessPalette.sidebarInk
                selectionColor: HarnessPalette.sidebarMuted
                font.pixelSize: 13
                leftPadding: 32
                text: rail.threadSearch ? rail.threadSearch.query : ""
                onTextEdited: rail.threadSearch.query = text
                Accessible.name: "Search threads"
                background: Rectangle {
                    radius: 7
                    color: HarnessPalette.sidebarSelected
                    border.width: searchField.activeFocus ? 1 : 0
                    border.color: HarnessPalette.sidebarMuted
                }
                Symbol {
                    x: 9
                    anchors.verticalCenter: parent.verticalCenter
                    name: "magnifyingglass"
                    color: HarnessPalette.sidebarMuted
                    size: 15
                }
                Keys.onEscapePressed: rail.threadSearch.close()
                Component.onCompleted: if (visible) forceActiveFocus()
                Connections {
                    target: rail.threadSearch
                    function onOpened() {
                        searchField.forceActiveFocus()
                        searchField.selectAll()
                    }
                }
            }

            Item { width: 1; height: 14; visible: rail.searching }
            SectionTitle {
                objectName: "searchResultsTitle"
                visible: rail.searching
                dark: true
                leftPadding: 8
                text: rail.threadSearch && rail.threadSearch.count === 1 ? "1 thread" : (rail.threadSearch ? rail.threadSearch.count : 0) + " threads"
            }
            Item { width: 1; height: 4; visible: rail.searching }
            Text {
                objectName: "noSearchResults"
                visible: rail.searching && rail.threadSearch.count === 0
                leftPadding: 8
                text: "No threads match."
                color: HarnessPalette.sidebarMuted
                font.pixelSize: 13
            }
            Repeater {
                objectName: "searchResults"
                model: rail.searching ? rail.threadSearch : null
                delegate: ThreadRow {
                    width: body.width - 16
                    height: 46
                    vm: rail.vm
                    notifications: rail.notifications
                }
            }

            Item { width: 1; height: 14; visible: !rail.searching }
            SectionTitle { dark: true; text: "Pinned"; leftPadding: 8; visible: !rail.searching }
            Item { width: 1; height: 4; visible: !rail.searching }
            Repeater {
                objectName: "pinnedThreads"
                model: rail.vm ? rail.vm.projectThreadModel : null
                // The first three threads of the project.
                delegate: ThreadRow {
                    width: body.width - 16
                    visible: index < 3 && !rail.searching
                    height: visible ? 46 : 0
                    vm: rail.vm
                    notifications: rail.notifications
                }
            }

            Item { width: 1; height: 14; visible: !rail.searching }
            SectionTitle { dark: true; text: "Projects"; leftPadding: 8; visible: !rail.searching }
            Item { width: 1; height: 4; visible: !rail.searching }
            Repeater {
                objectName: "projectRows"
                model: rail.vm && !rail.searching ? rail.vm.projects : []
                delegate: ProjectRow {
                    required property var modelData
                    width: body.width - 16
                    vm: rail.vm
                    project: modelData
                }
            }
        }
    }

    Column {
        id: pills
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 12
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        spacing: 6
        StatusPill {
            objectName: "bridgePill"
            width: parent.width
            symbol: "laptopcomputer.and.ipad"
            title: "Bridge"
            value: rail.bridges && rail.bridges.selectedBridgeID !== "" ? rail.bridges.selectedBridgeName : "Local"
            MouseArea {
                objectName: "bridgePillArea"
                anchors.fill: parent
                enabled: rail.bridges !== null
                cursorShape: enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
                onClicked: rail.bridgesRequested()
            }
        }
        StatusPill {
            objectName: "turnsPill"
            width: parent.width
            symbol: "waveform.path.ecg"
            title: "Turns"
            value: rail.vm ? String(rail.vm.visibleTurnCount) : "0"
        }
    }
}
