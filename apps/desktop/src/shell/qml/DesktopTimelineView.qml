import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Shell

// The timeline column: the selected conversation's turns, oldest first, with the files each produced, and
// a filter by who wrote them (All, You, Agent). Up and Down move the selection when the list has the focus.
Rectangle {
    id: timeline
    // DesktopTimelineListModel and the selected turn's id.
    property QtObject model
    property string selectedTurnID
    property bool hasConversation: false
    property string title: "Timeline"
    signal turnActivated(string turnID)
    readonly property alias list: rows

    color: ShellPalette.center

    Text {
        id: heading
        x: 16
        y: 14
        text: timeline.title + (timeline.model && timeline.model.turnCount > 0
                                ? "  ·  " + timeline.model.turnCount + (timeline.model.turnCount === 1 ? " turn" : " turns")
                                : "")
        color: ShellPalette.muted
        font.pixelSize: 12
        font.weight: Font.DemiBold
        font.capitalization: Font.AllUppercase
    }
    ComboBox {
        id: roleFilter
        objectName: "timelineRoleFilter"
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.verticalCenter: heading.verticalCenter
        width: 96
        height: 28
        font.pixelSize: 12
        model: ["All", "You", "Agent"]
        readonly property var rawValues: ["", "user", "assistant"]
        currentIndex: timeline.model ? Math.max(0, rawValues.indexOf(timeline.model.roleFilter)) : 0
        onActivated: (index) => timeline.model.roleFilter = rawValues[index]
    }

    ListView {
        id: rows
        objectName: "timelineList"
        anchors.top: roleFilter.bottom
        anchors.topMargin: 10
        anchors.bottom: parent.bottom
        width: parent.width
        clip: true
        spacing: 6
        bottomMargin: 10
        boundsBehavior: Flickable.StopAtBounds
        keyNavigationEnabled: true
        highlightFollowsCurrentItem: false
        model: timeline.model
        delegate: DesktopTimelineRowView {
            x: 10
            width: ListView.view.width - 20
            selected: timeline.selectedTurnID === turnID
            onActivated: {
                rows.forceActiveFocus()
                timeline.turnActivated(turnID)
            }
        }
        Keys.onUpPressed: timeline.step(-1)
        Keys.onDownPressed: timeline.step(1)
        ScrollBar.vertical: ScrollBar {}
    }

    DesktopTimelineEmptyState {
        anchors.fill: rows
        visible: rows.count === 0
        caption: !timeline.hasConversation ? "Choose a conversation in the library to see its turns."
                 : (timeline.model && timeline.model.turnCount > 0 ? "No turns from “" + roleFilter.currentText + "” in this conversation."
                                                                   : "This conversation has no turns yet.")
    }

    // Selects the turn `delta` rows away from the selected one (the first row when none is selected).
    function step(delta) {
        if (!model || rows.count === 0)
            return
        const current = selectedTurnID.length > 0 ? model.rowOf(selectedTurnID) : -1
        const next = current < 0 ? 0 : Math.max(0, Math.min(rows.count - 1, current + delta))
        const index = model.index(next, 0)
        timeline.turnActivated(model.data(index, Qt.UserRole + 1))
        rows.positionViewAtIndex(next, ListView.Contain)
    }
    // Keeps the selected turn in view when it changes from elsewhere.
    onSelectedTurnIDChanged: {
        if (model && selectedTurnID.length > 0) {
            const row = model.rowOf(selectedTurnID)
            if (row >= 0)
                rows.positionViewAtIndex(row, ListView.Contain)
        }
    }
}
