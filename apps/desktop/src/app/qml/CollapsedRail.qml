import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// A column folded into a narrow rail: its title turned sideways and a button that expands it again.
Rectangle {
    id: rail
    required property string title
    required property string symbol
    property bool dark: false
    signal expand()

    width: 52
    color: dark ? HarnessPalette.rail : HarnessPalette.inspector

    SymbolButton {
        objectName: "expandButton"
        anchors.top: parent.top
        anchors.topMargin: 12
        anchors.horizontalCenter: parent.horizontalCenter
        symbol: rail.symbol
        tint: rail.dark ? HarnessPalette.sidebarInk : HarnessPalette.ink
        hoverColor: rail.dark ? HarnessPalette.sidebarSelected : HarnessPalette.shade
        helpText: rail.title
        onClicked: rail.expand()
    }
    Text {
        anchors.centerIn: parent
        rotation: -90
        text: rail.title
        color: rail.dark ? HarnessPalette.sidebarMuted : HarnessPalette.muted
        font.pixelSize: 12
        font.weight: Font.DemiBold
        font.letterSpacing: 1
    }
}
