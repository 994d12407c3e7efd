import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Shell

// The stack of canvas pages, scaled to the column's width (never above 100 %), each a sheet of paper with a
// shadow on the grey desk. Only the pages in view exist, and the next one below or above (made before it
// scrolls in, so its ink is ready when it shows); a page scrolled further away is destroyed. Pages are added
// at the end while the conversation is being laid out.
ListView {
    id: pages
    // DesktopCanvasReplayDocument
    property QtObject document

    readonly property real pageScale: document && document.pageWidth > 0
                                      ? Math.min(1, (width - 48) / document.pageWidth) : 1
    readonly property real pageStep: (document ? document.pageHeight : 0) * pageScale + spacing

    clip: true
    spacing: 18
    topMargin: 18
    bottomMargin: 18
    cacheBuffer: Math.ceil(pageStep)
    reuseItems: false
    boundsBehavior: Flickable.StopAtBounds
    Accessible.role: Accessible.Graphic
    Accessible.name: document ? document.accessibilityLabel : ""
    model: document

    delegate: Item {
        id: sheet
        required property int index
        width: pages.width
        height: pages.document.pageHeight * pages.pageScale
        Rectangle {
            // the sheet's shadow on the desk
            x: page.x + 2
            y: 3
            width: page.width
            height: page.height
            radius: 2
            color: Qt.rgba(0, 0, 0, 0.12)
        }
        DesktopCanvasReplayPageItem {
            id: page
            objectName: "canvasPage_" + sheet.index
            x: Math.round((pages.width - width) / 2)
            width: pages.document.pageWidth * pages.pageScale
            height: parent.height
            document: pages.document
            pageIndex: sheet.index
        }
    }

    // Brings the writing that starts at a global canvas Y near the top of the view.
    function revealGlobalY(globalY) {
        if (!document || document.pageHeight <= 0 || globalY < 0)
            return
        const page = Math.floor(globalY / document.pageHeight)
        const within = globalY - page * document.pageHeight
        const target = page * pageStep + within * pageScale - 24 - topMargin
        contentY = Math.max(-topMargin, Math.min(target, contentHeight - height + bottomMargin))
    }

    ScrollBar.vertical: ScrollBar { policy: ScrollBar.AlwaysOn }
    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_PageDown || event.key === Qt.Key_Space) {
            contentY = Math.min(contentY + height * 0.9, contentHeight - height + bottomMargin)
        } else if (event.key === Qt.Key_PageUp) {
            contentY = Math.max(contentY - height * 0.9, -topMargin)
        } else if (event.key === Qt.Key_Home) {
            positionViewAtBeginning()
        } else if (event.key === Qt.Key_End) {
            positionViewAtEnd()
        } else {
            return
        }
        event.accepted = true
    }
}
