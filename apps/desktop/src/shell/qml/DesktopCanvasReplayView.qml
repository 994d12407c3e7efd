import QtQuick
import Rirudez.Shell

// The canvas column: the conversation written out as handwriting on paper pages; the empty state when there
// is nothing to write, a banner above the pages when the conversation fills more pages than are drawn, and the
// progress of the layout below them while a long conversation is still being written out.
Rectangle {
    id: canvas
    // DesktopCanvasReplayDocument
    property QtObject document
    property bool hasConversation: false
    readonly property alias pagesView: pages

    color: ShellPalette.desk

    Rectangle {
        id: banner
        objectName: "truncationBanner"
        visible: canvas.document !== null && canvas.document.truncated
        width: parent.width
        height: visible ? bannerText.implicitHeight + 16 : 0
        z: 2
        color: ShellPalette.amber
        Text {
            id: bannerText
            anchors.centerIn: parent
            width: parent.width - 32
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: canvas.document ? canvas.document.truncationCaption : ""
            color: ShellPalette.ink
            font.pixelSize: 12
        }
    }

    DesktopCanvasReplayPagesView {
        id: pages
        objectName: "canvasPages"
        anchors.top: banner.bottom
        anchors.bottom: progress.top
        width: parent.width
        visible: canvas.document !== null && !canvas.document.isEmpty
        document: canvas.document
    }

    Rectangle {
        id: progress
        objectName: "canvasLayoutProgress"
        anchors.bottom: parent.bottom
        width: parent.width
        visible: pages.visible && canvas.document !== null && canvas.document.layingOut
        height: visible ? 26 : 0
        color: ShellPalette.card
        Rectangle {
            // how far the layout got
            anchors.bottom: parent.bottom
            width: parent.width * (canvas.document ? canvas.document.layoutProgress : 0)
            height: 3
            color: ShellPalette.teal
        }
        Text {
            anchors.centerIn: parent
            text: canvas.document
                  ? "Writing out the conversation… " + Math.floor(canvas.document.layoutProgress * 100) + " %"
                  : ""
            color: ShellPalette.muted
            font.pixelSize: 11
        }
    }

    DesktopCanvasReplayEmptyState {
        anchors.fill: parent
        visible: !pages.visible
        caption: canvas.hasConversation && canvas.document ? canvas.document.emptyCaption
                                                           : "Choose a conversation in the library to see it written out."
    }
}
