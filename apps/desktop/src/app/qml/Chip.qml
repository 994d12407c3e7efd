import QtQuick
import Rirudez.Desktop

// A symbol and a text in a rounded outline (the session header's agent, model and access chips).
Rectangle {
    id: chip
    required property string symbol
    required property string text

    implicitWidth: row.implicitWidth + 16
    implicitHeight: 26
    radius: 13
    color: HarnessPalette.panelStrong
    border.color: HarnessPalette.border
    border.width: 1

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 5
        Symbol { name: chip.symbol; color: HarnessPalette.muted; size: 13; anchors.verticalCenter: parent.verticalCenter }
        Text { text: chip.text; color: HarnessPalette.ink; font.pixelSize: 12; anchors.verticalCenter: parent.verticalCenter }
    }
}
