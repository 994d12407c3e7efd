import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// The dark left column: actions, pinned threads, projects and the two status pills.
Rectangle {
    id: rail
    objectName: "projectRail"
    property QtObject vm
    property DesktopCodingHarnessViewState st

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
                    { symbol: "square.and.pencil", title: "New chat", action: "newChat" },
                    { symbol: "magnifyingglass", title: "Search", action: "" },
                    { symbol: "circle.grid.2x2", title: "Plugins", action: "" },
                    { symbol: "clock", title: "Automations", action: "" }
                ]
                delegate: AbstractButton {
                    required property var modelData
                    objectName: modelData.action === "newChat" ? "newChatButton" : "railAction"
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
                    onClicked: if (modelData.action === "newChat") rail.vm.startThread()
                }
            }

            Item { width: 1; height: 14 }
            SectionTitle { dark: true; text: "Pinned"; leftPadding: 8 }
            Item { width: 1; height: 4 }
            Repeater {
                objectName: "pinnedThreads"
                model: rail.vm ? rail.vm.projectThreadModel : null
                // The first three threads of the project.
                delegate: ThreadRow {
                    width: body.width - 16
                    visible: index < 3
                    height: visible ? 46 : 0
                    vm: rail.vm
                }
            }

            Item { width: 1; height: 14 }
            SectionTitle { dark: true; text: "Projects"; leftPadding: 8 }
            Item { width: 1; height: 4 }
            Repeater {
                objectName: "projectRows"
                model: rail.vm ? rail.vm.projects : []
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
            value: "Local"
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
