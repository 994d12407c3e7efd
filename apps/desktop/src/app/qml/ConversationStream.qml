import QtQuick
import QtQuick.Controls.Basic
import Qt.labs.qmlmodels
import Rirudez.Desktop

// The conversation: the activity card, then one row per chat event (or the empty state), then the
// bottom anchor. Only the rows in view exist (ListView), so a long transcript stays cheap.
Item {
    id: stream
    // The chat rows of the visible session (the view model's chatEventModel) and the screen's state, which
    // knows the activity, the pending approvals, the open transcripts and how each kind of row is drawn.
    required property QtObject events
    required property DesktopCodingHarnessViewState viewState
    // Approve or Deny was clicked on a row ("approved" / "denied").
    signal respondToApproval(string approvalID, string decision)

    readonly property DesktopCodingHarnessViewState st: viewState
    readonly property int activityCount: st.activityCount
    readonly property int chatCount: st.chatCount

    ListView {
        id: list
        objectName: "conversationStream"
        // True while a scroll to the bottom is pending or animating.
        readonly property bool autoScrolling: scrollTimer.running || scrollAnimation.running
        anchors.fill: parent
        clip: true
        spacing: 10
        topMargin: 16
        bottomMargin: 8
        leftMargin: 0
        rightMargin: 0
        model: stream.events
        boundsBehavior: Flickable.StopAtBounds
        reuseItems: true
        cacheBuffer: 400
        Accessible.role: Accessible.List
        Accessible.name: HarnessLabels.conversation
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        header: Item {
            width: list.width
            height: card.visible ? card.height + 12 : 0
            Rectangle {
                id: card
                objectName: "activityCard"
                visible: stream.activityCount > 0
                x: 20
                width: parent.width - 40
                height: 62
                radius: 12
                color: HarnessPalette.panel
                border.color: HarnessPalette.border
                border.width: 1
                Symbol {
                    id: activitySymbol
                    x: 14
                    anchors.verticalCenter: parent.verticalCenter
                    name: "waveform.path.ecg"
                    color: HarnessPalette.teal
                    size: 18
                }
                Column {
                    anchors.left: activitySymbol.right
                    anchors.leftMargin: 12
                    anchors.right: parent.right
                    anchors.rightMargin: 14
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 2
                    SectionTitle { text: HarnessLabels.activity }
                    Text {
                        objectName: "activityCountLine"
                        text: stream.st.activityCountLine(stream.activityCount)
                        color: HarnessPalette.ink
                        font.pixelSize: 13
                        font.weight: Font.DemiBold
                    }
                    Text {
                        objectName: "activitySummaryLine"
                        width: parent.width
                        text: stream.st.activitySummaryLine(stream.st.latestActivitySummary)
                        elide: Text.ElideRight
                        color: HarnessPalette.muted
                        font.pixelSize: 12
                    }
                }
            }
        }

        // One row per event, chosen by its kind: a user message with images is a turn card, every other
        // event an event row. Neither the kind nor the images of a row change once it is in the model.
        delegate: DelegateChooser {
            role: "kind"
            DelegateChoice {
                roleValue: EventKind.userMessage
                delegate: DelegateChooser {
                    role: "imageCount"
                    DelegateChoice { roleValue: 0; delegate: eventRow }
                    DelegateChoice { delegate: userTurnCard }
                }
            }
            DelegateChoice { delegate: eventRow }
        }
        Component {
            id: eventRow
            EventRow {
                required property int index
                required property int kind
                required property var createdAt
                // eventID, summaryLength, detail and delivered come from the model too. The summary itself is
                // read through the model when shown: a streamed answer grows a word at a time, and handing the
                // whole text to the row on every word would copy it each time.
                width: list.width
                style: stream.st.eventStyleMap(kind)
                timeText: createdAt ? stream.st.shortTime(createdAt) : ""
                approvalID: stream.st.approvalRevision >= 0 ? stream.st.pendingApprovalID(eventID) : ""
                eventModel: list.model
                rowIndex: index
                onRespond: decision => stream.respondToApproval(approvalID, decision)
            }
        }
        Component {
            id: userTurnCard
            DesktopCodingUserTurnCard {
                required property int index
                required property var createdAt
                width: list.width
                style: stream.st.eventStyleMap(EventKind.userMessage)
                timeText: createdAt ? stream.st.shortTime(createdAt) : ""
                showsTranscript: stream.st.transcriptEventIDs.indexOf(eventID) >= 0
                summary: list.model.summaryAt(index)
                onToggleTranscript: stream.st.toggleTranscript(eventID)
            }
        }

        // The invisible anchor the stream scrolls to.
        footer: Item {
            objectName: "desktop-coding-conversation-bottom"
            width: list.width
            height: 1
        }

        NumberAnimation {
            id: scrollAnimation
            target: list
            property: "contentY"
            duration: 180
            easing.type: Easing.OutCubic
        }
    }

    Column {
        id: emptyState
        objectName: "emptyState"
        visible: stream.chatCount === 0
        anchors.centerIn: parent
        anchors.verticalCenterOffset: stream.activityCount > 0 ? 37 : 0
        spacing: 8
        Symbol {
            anchors.horizontalCenter: parent.horizontalCenter
            name: "bubble.left.and.bubble.right"
            color: HarnessPalette.faint
            size: 34
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: HarnessLabels.noMessages
            color: HarnessPalette.ink
            font.pixelSize: 16
            font.weight: Font.DemiBold
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: HarnessLabels.noMessagesHint
            color: HarnessPalette.muted
            font.pixelSize: 13
        }
    }

    // Scrolling to the bottom anchor, 20 ms after the trigger: animated when the last event changes or rows
    // grow (follow), immediate when the selected thread changes.
    enum ScrollKind { Follow, Animated, Immediate }
    property int pendingScroll: ConversationStream.ScrollKind.Follow
    Timer {
        id: scrollTimer
        interval: 20
        onTriggered: stream.scrollToBottom(stream.pendingScroll)
    }
    // Triggers within 20 ms of the first one share its scroll (a stream of thousands of pieces a second must
    // not keep pushing the scroll back); an immediate scroll wins over an animated one, which wins over
    // following.
    function requestScroll(kind) {
        if (!scrollTimer.running) {
            pendingScroll = kind
            scrollTimer.start()
        } else {
            pendingScroll = Math.max(pendingScroll, kind)
        }
    }
    // Whether the stream keeps to its bottom as rows grow (a streamed answer is laid out after its row was
    // added): true until the user scrolls away from the bottom, and again once they scroll back to it.
    property bool followsBottom: true
    Connections {
        target: list
        function onMovementStarted() { stream.followsBottom = false }
        function onMovementEnded() { stream.followsBottom = list.atYEnd }
        function onContentHeightChanged() {
            if (stream.followsBottom)
                stream.requestScroll(ConversationStream.ScrollKind.Follow)
        }
    }
    // When rows last came in bulk (a replay batch, a thread shown anew), in ms since the epoch.
    property double bulkRowsAt: 0
    Connections {
        target: list.model
        function onRowsInserted(parent, first, last) {
            if (last > first)
                stream.bulkRowsAt = Date.now()
        }
        function onModelReset() { stream.bulkRowsAt = Date.now() }
    }
    // A short way is animated: a new row, or a streamed answer growing below what is in view (the glide keeps
    // the view moving smoothly between the answer's updates). While rows come in bulk, and shortly after, the
    // end is jumped to at once: gliding over thousands of rows would make the list create and lay out every
    // row it passes, and each of those changes its estimate of the content height, which starts the glide over
    // again. A longer way is always jumped.
    function scrollToBottom(kind) {
        followsBottom = true
        const animated = kind !== ConversationStream.ScrollKind.Immediate && Date.now() - bulkRowsAt > 300
        scrollAnimation.stop()
        const from = list.contentY
        list.positionViewAtEnd()
        if (!animated)
            return
        const to = list.contentY
        if (Math.abs(to - from) < 1 || Math.abs(to - from) > list.height)
            return
        list.contentY = from
        scrollAnimation.from = from
        scrollAnimation.to = to
        scrollAnimation.start()
    }
    Connections {
        target: stream.st
        function onLastEventIDChanged() { stream.requestScroll(ConversationStream.ScrollKind.Animated) }
        function onSelectedThreadIDChanged() { stream.requestScroll(ConversationStream.ScrollKind.Immediate) }
    }
}
