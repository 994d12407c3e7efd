import QtQuick
import Rirudez.Desktop

Text {
    property bool dark: false
    color: dark ? HarnessPalette.sidebarFaint : HarnessPalette.faint
    font.pixelSize: 11
    font.weight: Font.DemiBold
    font.letterSpacing: 0.8
}
