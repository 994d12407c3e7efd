import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// The dark left column: actions, pinned threads, projects and the two status pills. While a search is typed,
// the matching threads of every project take the place of the pinned threads and the projects.
Rectangle {
    id: rail
    objectName: "projectRail"
    // The view model (projects, threads, selection, the turn count), which threads have news, and the
    // thread search (null without one).
    required property QtObject viewModel
    required property QtObject notifications
    required property QtObject threadSearch
    // The Bridge pill: the name of the bridge in use, and whether the Bridges sheet can be opened.
    required property string bridgeName
    required property bool canOpenBridges
    // The Bridge pill was clicked: the screen opens the Bridges sheet.
    signal bridgesRequested()
    // The rail's collapse button was clicked.
    signal collapse()

    readonly property QtObject vm: viewModel
    readonly property bool searching: threadSearch !== null && threadSearch.isSearching

    function hasNews(threadID) {
        return notifications !== null && notifications.threadsWithNews.indexOf(threadID) >= 0
    }
    function openThread(threadID) {
        vm.selectThread(threadID)
        vm.requestSubscribeToSelectedBridgeSession()
    }
    function openProject(projectID) {
        vm.selectProject(projectID)
        vm.requestSubscribeToSelectedBridgeSession()
    }

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
            text: HarnessLabels.projects
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
            helpText: HarnessLabels.collapseProjects
            onClicked: rail.collapse()
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
                model: HarnessLabels.railActions
                delegate: AbstractButton {
                    required property var modelData
                    objectName: modelData.action === HarnessLabels.RailAction.newChat ? "newChatButton" : (modelData.action === HarnessLabels.RailAction.search ? "searchButton" : "railAction")
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
                        if (modelData.action === HarnessLabels.RailAction.newChat)
                            rail.vm.startThread()
                        else if (modelData.action === HarnessLabels.RailAction.search && rail.threadSearch)
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
                placeholderText: HarnessLabels.searchThreads
                placeholderTextColor: HarnessPalette.sidebarFaint
                color: HarnessPalette.sidebarInk
                selectionColor: HarnessPalette.sidebarMuted
                font.pixelSize: 13
                leftPadding: 32
                text: rail.threadSearch ? rail.threadSearch.query : ""
                onTextEdited: rail.threadSearch.query = text
                Accessible.name: HarnessLabels.searchThreads
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
                text: HarnessLabels.threadCountLine(rail.threadSearch ? rail.threadSearch.count : 0)
            }
            Item { width: 1; height: 4; visible: rail.searching }
            Text {
                objectName: "noSearchResults"
                visible: rail.searching && rail.threadSearch.count === 0
                leftPadding: 8
                text: HarnessLabels.noThreadsMatch
                color: HarnessPalette.sidebarMuted
                font.pixelSize: 13
            }
            Repeater {
                objectName: "searchResults"
                model: rail.searching ? rail.threadSearch : null
                delegate: ThreadRow {
                    width: body.width - 16
                    height: 46
                    hasNews: rail.hasNews(threadID)
                    onActivated: rail.openThread(threadID)
                }
            }

            Item { width: 1; height: 14; visible: !rail.searching }
            SectionTitle { dark: true; text: HarnessLabels.pinnedSection; leftPadding: 8; visible: !rail.searching }
            Item { width: 1; height: 4; visible: !rail.searching }
            Repeater {
                objectName: "pinnedThreads"
                model: rail.vm ? rail.vm.projectThreadModel : null
                // The first three threads of the project.
                delegate: ThreadRow {
                    width: body.width - 16
                    visible: index < 3 && !rail.searching
                    height: visible ? 46 : 0
                    hasNews: rail.hasNews(threadID)
                    onActivated: rail.openThread(threadID)
                }
            }

            Item { width: 1; height: 14; visible: !rail.searching }
            SectionTitle { dark: true; text: HarnessLabels.projects; leftPadding: 8; visible: !rail.searching }
            Item { width: 1; height: 4; visible: !rail.searching }
            Repeater {
                objectName: "projectRows"
                model: rail.vm && !rail.searching ? rail.vm.projects : []
                delegate: ProjectRow {
                    required property var modelData
                    width: body.width - 16
                    project: modelData
                    isSelected: rail.vm.selectedProjectID === (modelData.id || "")
                    onActivated: rail.openProject(modelData.id || "")
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
            title: HarnessLabels.bridge
            value: rail.bridgeName
            MouseArea {
                objectName: "bridgePillArea"
                anchors.fill: parent
                enabled: rail.canOpenBridges
                cursorShape: enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
                onClicked: rail.bridgesRequested()
            }
        }
        StatusPill {
            objectName: "turnsPill"
            width: parent.width
            symbol: "waveform.path.ecg"
            title: HarnessLabels.turns
            value: rail.vm ? String(rail.vm.visibleTurnCount) : "0"
        }
    }
}
