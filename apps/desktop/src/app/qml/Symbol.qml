import QtQuick
import QtQuick.Window
import Rirudez.Desktop

// One named symbol of the bundled icon set, drawn in `color`.
Image {
    id: symbol
    property string name
    property color color: HarnessPalette.ink
    property int size: 16

    width: size
    height: size
    sourceSize.width: Math.ceil(size * Screen.devicePixelRatio)
    sourceSize.height: Math.ceil(size * Screen.devicePixelRatio)
    fillMode: Image.PreserveAspectFit
    smooth: true
    asynchronous: false
    cache: false
    source: name.length > 0 ? "image://symbol/" + name + "/" + String(color).substring(1) : ""
}
