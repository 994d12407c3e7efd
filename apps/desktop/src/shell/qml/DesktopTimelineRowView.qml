import QtQuick
import Rirudez.Shell

// One turn of the timeline: who wrote it and when, the first lines of its text, and the files it produced.
// The selected turn is tinted; a click selects it.
Rectangle {
    id: row
    required property string turnID
    required property string turnRole
    required property string roleLabel
    required property string content
    required property string timeLabel
    required property var artifacts
    property bool selected: false
    signal activated()

    objectName: "timelineRow_" + turnID
    height: body.implicitHeight + 18
    radius: 8
    color: selected ? ShellPalette.tealWash : ShellPalette.card
    border.color: selected ? ShellPalette.teal : ShellPalette.border

    Rectangle {
        // The role's mark at the left edge: teal for the agent, ink for the user.
        x: 0
        y: 8
        width: 3
        height: parent.height - 16
        radius: 1.5
        color: row.turnRole === "user" ? ShellPalette.ink : ShellPalette.teal
    }
    Column {
        id: body
        x: 12
        y: 9
        width: parent.width - 24
        spacing: 4
        Text {
            width: parent.width
            text: row.roleLabel + "  ·  " + row.timeLabel
            color: ShellPalette.muted
            font.pixelSize: 11
            font.weight: Font.DemiBold
            elide: Text.ElideRight
        }
        Text {
            width: parent.width
            text: row.content.length > 0 ? row.content : "(no text)"
            wrapMode: Text.Wrap
            maximumLineCount: 4
            elide: Text.ElideRight
            textFormat: Text.PlainText
            color: row.content.length > 0 ? ShellPalette.ink : ShellPalette.faint
            font.pixelSize: 13
        }
        Repeater {
            model: row.artifacts
            DesktopTimelineArtifactRow {
                required property var modelData
                title: modelData.title
                kind: modelData.kind
                icon: modelData.icon
            }
        }
    }
    TapHandler { onTapped: row.activated() }
}
