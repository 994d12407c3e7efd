import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// A user message that carries images: the images ("iPad crop") or, toggled, the transcribed text.
Item {
    id: card
    // The message (from the model: its id and number of images), its text, how a user row is drawn
    // ({symbol, name, tint}) and its short time.
    required property string eventID
    required property int imageCount
    required property string summary
    required property var style
    required property string timeText
    // Whether the card shows the transcribed text instead of the images.
    required property bool showsTranscript
    signal toggleTranscript()

    objectName: "userTurnCard"
    implicitHeight: frame.implicitHeight + 8
    height: implicitHeight

    Rectangle {
        id: frame
        x: 20
        width: parent.width - 40
        implicitHeight: column.implicitHeight + 24
        height: implicitHeight
        radius: 12
        color: HarnessPalette.panelStrong
        border.color: HarnessPalette.border
        border.width: 1

        Column {
            id: column
            x: 12
            y: 12
            width: parent.width - 24
            spacing: 8

            Item {
                width: parent.width
                height: 28
                Row {
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 8
                    Symbol { name: card.style.symbol; color: card.style.tint; size: 18; anchors.verticalCenter: parent.verticalCenter }
                    Text { text: card.style.name; color: card.style.tint; font.pixelSize: 12; font.weight: Font.DemiBold; anchors.verticalCenter: parent.verticalCenter }
                    Text {
                        objectName: "cardLabel"
                        text: card.showsTranscript ? HarnessLabels.transcript : HarnessLabels.imageCrop
                        color: HarnessPalette.muted
                        font.pixelSize: 12
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Text {
                        text: card.timeText
                        color: HarnessPalette.faint
                        font.pixelSize: 11
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
                SymbolButton {
                    objectName: "transcriptToggle"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: card.showsTranscript ? "photo" : "text.viewfinder"
                    helpText: card.showsTranscript ? HarnessLabels.showImageCrop : HarnessLabels.showTranscript
                    tint: HarnessPalette.muted
                    onClicked: card.toggleTranscript()
                }
            }

            TextEdit {
                objectName: "transcriptText"
                visible: card.showsTranscript
                width: parent.width
                text: card.summary
                wrapMode: TextEdit.Wrap
                readOnly: true
                selectByMouse: true
                color: HarnessPalette.ink
                font.pixelSize: 14
            }
            Column {
                objectName: "cardImages"
                visible: !card.showsTranscript
                width: parent.width
                spacing: 8
                Repeater {
                    model: card.showsTranscript ? 0 : card.imageCount
                    delegate: Image {
                        required property int index
                        width: Math.min(column.width, 520)
                        fillMode: Image.PreserveAspectFit
                        asynchronous: false
                        cache: false
                        source: "image://turnimage/" + card.eventID + "/" + index
                    }
                }
            }
        }
    }
}
