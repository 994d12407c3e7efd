import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Shell

// The detail column: what the bridge did, newest first. The latest entry is a card; older ones are compact
// rows. Each row carries its kind's symbol, tinted by kind (failures red, completions teal). A notice about
// the stored log (set aside or not written) shows above the list until dismissed.
Rectangle {
    id: activity
    // Each entry: {id, title, context, time, symbol, kind}; newest first.
    property var entries: []
    property string notice
    property string title: "Activity"
    signal noticeDismissed()
    signal localModelsRequested()

    color: ShellPalette.detail

    Text {
        id: heading
        x: 16
        y: 14
        text: activity.title
        color: ShellPalette.muted
        font.pixelSize: 12
        font.weight: Font.DemiBold
        font.capitalization: Font.AllUppercase
    }
    Button {
        id: localModels
        objectName: "openLocalModelsButton"
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.verticalCenter: heading.verticalCenter
        height: 28
        font.pixelSize: 12
        text: "Local models"
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: "The local models sheet (Ctrl+Shift+L)"
        onClicked: activity.localModelsRequested()
    }

    Rectangle {
        id: noticeBox
        objectName: "activityNotice"
        anchors.top: localModels.bottom
        anchors.topMargin: 10
        x: 10
        width: parent.width - 20
        visible: activity.notice.length > 0
        height: visible ? noticeText.implicitHeight + 16 : 0
        radius: 6
        color: ShellPalette.warningWash
        border.color: ShellPalette.border
        Text {
            id: noticeText
            x: 10
            y: 8
            width: parent.width - 40
            wrapMode: Text.Wrap
            text: activity.notice
            color: ShellPalette.ink
            font.pixelSize: 12
        }
        Image {
            objectName: "dismissActivityNotice"
            anchors.right: parent.right
            anchors.rightMargin: 8
            y: 8
            width: 14
            height: 14
            sourceSize: Qt.size(28, 28)
            source: "image://symbol/xmark/" + String(ShellPalette.muted).substring(1)
            TapHandler { onTapped: activity.noticeDismissed() }
        }
    }

    ListView {
        id: rows
        objectName: "activityList"
        anchors.top: noticeBox.bottom
        anchors.topMargin: 10
        anchors.bottom: parent.bottom
        width: parent.width
        clip: true
        spacing: 2
        boundsBehavior: Flickable.StopAtBounds
        model: activity.entries
        delegate: Rectangle {
            id: entry
            required property var modelData
            required property int index
            readonly property bool latest: index === 0
            readonly property color tint: ShellPalette.activityTint(modelData.kind)
            objectName: latest ? "latestActivity" : "activityRow"
            x: 10
            width: ListView.view.width - 20
            height: latest ? 64 : 38
            radius: 6
            color: latest ? ShellPalette.card : "transparent"
            border.color: latest ? ShellPalette.border : "transparent"
            Image {
                x: 10
                anchors.verticalCenter: parent.verticalCenter
                width: entry.latest ? 20 : 15
                height: width
                sourceSize: Qt.size(40, 40)
                source: "image://symbol/" + entry.modelData.symbol + "/" + String(entry.tint).substring(1)
            }
            Column {
                x: entry.latest ? 40 : 34
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width - x - 10
                spacing: 2
                Text {
                    width: parent.width
                    text: entry.modelData.title
                    elide: Text.ElideRight
                    textFormat: Text.PlainText
                    color: entry.modelData.kind === "failed" ? ShellPalette.red : ShellPalette.ink
                    font.pixelSize: entry.latest ? 13 : 12
                    font.weight: entry.latest ? Font.DemiBold : Font.Normal
                }
                Text {
                    width: parent.width
                    text: entry.modelData.time + (entry.modelData.context.length > 0 ? "  ·  " + entry.modelData.context : "")
                    elide: Text.ElideRight
                    color: ShellPalette.muted
                    font.pixelSize: 11
                }
            }
        }
        ScrollBar.vertical: ScrollBar {}
    }

    DesktopShellPlaceholder {
        objectName: "activityEmptyState"
        anchors.fill: rows
        visible: rows.count === 0
        slotSymbol: "waveform.path.ecg"
        caption: "No bridge activity yet. Turns on the conversation screen show up here as they run."
    }
}
