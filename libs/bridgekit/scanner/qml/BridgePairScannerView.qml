import QtQuick
import QtMultimedia
import Rirudez.BridgeKit.Scanner

// A camera view that reads one QR code (a pair link) and hands its text to `onCode`, at most once.
// When the camera cannot be used it shows a short hint pointing to pasting the pair link instead.
// The view is the adapter between its owner and the controller: the camera runs while the view is visible
// and stops when it is hidden or destroyed.
Rectangle {
    id: view

    // The text of the first QR code read. The handler is `onCode`.
    signal code(string text)

    readonly property string hint: controller.hint
    readonly property bool cameraRunning: controller.cameraRunning

    color: "black"
    clip: true

    VideoOutput {
        id: output
        objectName: "scannerPreview"
        anchors.fill: parent
        fillMode: VideoOutput.PreserveAspectCrop
        visible: controller.hint.length === 0
    }

    ScannerController {
        id: controller
        objectName: "scannerController"
        videoSink: output.videoSink
        active: view.visible && view.enabled
        onCode: text => view.code(text)
    }

    Text {
        objectName: "scannerHint"
        visible: controller.hint.length > 0
        anchors.centerIn: parent
        width: Math.max(0, parent.width - 48)
        text: controller.hint
        color: "white"
        font.pixelSize: 15
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.Wrap
    }
}
