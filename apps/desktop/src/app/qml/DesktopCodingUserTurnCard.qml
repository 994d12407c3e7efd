import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// A user message that carries images: the images ("iPad crop") or, toggled, the transcribed text.
Item {
    id: card
    property QtObject vm
    property DesktopCodingHarnessViewState st
    property string eventID
    property int eventIndex
    property string summary
    property int imageCount
    property var createdAt
    readonly property bool showsTranscript: st ? st.transcriptEventIDs.indexOf(eventID) >= 0 : false

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
                    Symbol { name: "person.crop.circle"; color: HarnessPalette.red; size: 18; anchors.verticalCenter: parent.verticalCenter }
                    Text { text: "User"; color: HarnessPalette.red; font.pixelSize: 12; font.weight: Font.DemiBold; anchors.verticalCenter: parent.verticalCenter }
                    Text {
                        objectName: "cardLabel"
                        text: card.showsTranscript ? "Transcript" : "iPad crop"
                        color: HarnessPalette.muted
                        font.pixelSize: 12
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    Text {
                        text: card.st && card.createdAt ? card.st.shortTime(card.createdAt) : ""
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
                    helpText: card.showsTranscript ? "Show iPad crop" : "Show transcribed text"
                    tint: HarnessPalette.muted
                    onClicked: card.st.toggleTranscript(card.eventID)
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
