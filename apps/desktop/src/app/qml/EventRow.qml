import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// One conversation event: symbol, tint, name, short time, summary and detail; Approve and Deny when the
// event has a pending approval. Assistant text is Markdown; every text can be selected and copied.
Item {
    id: row
    // The event: id, summary length (the summary is read from the model), detail and whether the bridge
    // confirmed it as received (a prompt of this desktop).
    required property string eventID
    required property int summaryLength
    required property string detail
    required property bool delivered
    // How its kind is drawn ({symbol, name, tint, markdown, framed}) and its short time.
    required property var style
    required property string timeText
    // The pending approval shown on this row, "" for none.
    required property string approvalID
    // The chat model and this row's place in it; the row reads its summary from there.
    required property QtObject eventModel
    required property int rowIndex
    // Approve or Deny was clicked: "approved" or "denied".
    signal respond(string decision)

    readonly property bool isAssistant: style.markdown
    // The text on screen. Streamed assistant text grows by a word per event, up to thousands a second, and
    // every change lays its last block out again: while it grows it is read at most once a frame (the Timer
    // runs on the animation clock), so every frame of a stream carries a like share of new text. Assistant
    // text goes from the model to its blocks directly (it may be tens of thousands of characters); other
    // text is short and read into shownSummary.
    property string shownSummary
    property bool summaryRead: false
    function readSummary() {
        const readable = eventModel && rowIndex >= 0
        shownSummary = readable && !isAssistant ? eventModel.summaryAt(rowIndex) : ""
        answerBlocks.takeText(isAssistant ? eventModel : null, rowIndex, "summary")
        summaryRead = readable
    }
    // A reused row may show another event (even of the same length) at the same place after a thread switch.
    onRowIndexChanged: readSummary()
    onEventIDChanged: readSummary()
    onEventModelChanged: readSummary()
    onIsAssistantChanged: readSummary()
    onSummaryLengthChanged: {
        if (!isAssistant || !summaryRead)
            readSummary()
        else if (!textThrottle.running)
            textThrottle.start()
    }
    Timer {
        id: textThrottle
        interval: 16
        onTriggered: row.readSummary()
    }

    objectName: "eventRow"
    implicitHeight: content.implicitHeight + 8
    height: implicitHeight

    Rectangle {
        id: content
        x: 20
        width: parent.width - 40
        implicitHeight: body.implicitHeight + 24
        height: implicitHeight
        radius: 12
        color: row.style.framed ? HarnessPalette.panelStrong : "transparent"
        border.color: row.style.framed || row.approvalID.length > 0 ? HarnessPalette.border : "transparent"
        border.width: 1

        Symbol {
            id: icon
            x: 12
            y: 13
            name: row.style.symbol
            color: row.style.tint
            size: 18
        }
        Column {
            id: body
            anchors.left: icon.right
            anchors.leftMargin: 12
            anchors.right: parent.right
            anchors.rightMargin: 12
            y: 12
            spacing: 4

            Row {
                spacing: 8
                Text {
                    objectName: "eventName"
                    text: row.style.name
                    color: row.style.tint
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                }
                Text {
                    objectName: "eventTime"
                    text: row.timeText
                    color: HarnessPalette.faint
                    font.pixelSize: 11
                    anchors.baseline: parent.children[0].baseline
                }
                Text {
                    objectName: "eventDelivered"
                    visible: row.delivered
                    text: HarnessLabels.delivered
                    color: HarnessPalette.faint
                    font.pixelSize: 11
                    anchors.baseline: parent.children[0].baseline
                }
            }
            TextEdit {
                objectName: row.isAssistant ? "" : "eventSummary"
                visible: !row.isAssistant
                width: parent.width
                text: row.isAssistant ? "" : row.shownSummary
                textFormat: TextEdit.PlainText
                wrapMode: TextEdit.Wrap
                readOnly: true
                selectByMouse: true
                selectByKeyboard: true
                persistentSelection: false
                color: HarnessPalette.ink
                selectionColor: HarnessPalette.selection
                selectedTextColor: HarnessPalette.ink
                font.pixelSize: 14
            }
            // Assistant text is Markdown, laid out block by block: a growing answer lays out its last block only.
            Column {
                objectName: row.isAssistant ? "eventSummary" : ""
                readonly property alias text: answerBlocks.text
                visible: row.isAssistant
                width: parent.width
                Repeater {
                    model: DesktopCodingAnswerBlocks {
                        id: answerBlocks
                    }
                    delegate: TextEdit {
                        required property string blockText
                        required property bool startsParagraph
                        objectName: "eventSummaryBlock"
                        width: parent ? parent.width : 0
                        topPadding: startsParagraph ? 8 : 0
                        text: blockText
                        textFormat: TextEdit.MarkdownText
                        wrapMode: TextEdit.Wrap
                        readOnly: true
                        selectByMouse: true
                        selectByKeyboard: true
                        persistentSelection: false
                        color: HarnessPalette.ink
                        selectionColor: HarnessPalette.selection
                        selectedTextColor: HarnessPalette.ink
                        font.pixelSize: 14
                    }
                }
            }
            TextEdit {
                objectName: "eventDetail"
                visible: row.detail.length > 0
                width: parent.width
                text: row.detail
                wrapMode: TextEdit.Wrap
                readOnly: true
                selectByMouse: true
                color: HarnessPalette.muted
                selectionColor: HarnessPalette.selection
                font.pixelSize: 12
                font.family: "monospace"
            }
            // Approve and Deny exist only while the row has a pending approval: most rows never have one, and two
            // buttons in every row would make each row dearer to create.
            Loader {
                active: row.approvalID.length > 0
                visible: active
                sourceComponent: Component {
                    Row {
                        spacing: 8
                        topPadding: 4
                        Button {
                            objectName: "approveButton"
                            text: HarnessLabels.approve
                            icon.source: "image://symbol/checkmark/ffffffff"
                            icon.color: "transparent"
                            icon.width: 14
                            icon.height: 14
                            palette.button: HarnessPalette.teal
                            palette.buttonText: HarnessPalette.onDark
                            onClicked: row.respond("approved")
                        }
                        Button {
                            objectName: "denyButton"
                            text: HarnessLabels.deny
                            icon.source: "image://symbol/xmark/" + String(HarnessPalette.red).substring(1)
                            icon.color: "transparent"
                            icon.width: 14
                            icon.height: 14
                            palette.button: HarnessPalette.panelStrong
                            palette.buttonText: HarnessPalette.red
                            background: Rectangle {
                                implicitWidth: 90
                                implicitHeight: 34
                                radius: 6
                                color: parent.down ? HarnessPalette.redPressed : HarnessPalette.panelStrong
                                border.color: HarnessPalette.redBorder
                                border.width: 1
                            }
                            onClicked: row.respond("denied")
                        }
                    }
                }
            }
        }
    }
}
