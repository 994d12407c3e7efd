import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Rirudez.Desktop

// One bridge in the Bridges sheet: name, host:port, a detail line, "In use" or a Use button, Remove.
Rectangle {
    id: row
    required property string name
    required property string address
    required property string detail
    required property bool inUse
    required property bool removable
    signal use()
    signal remove()

    implicitHeight: 58
    radius: 10
    color: inUse ? HarnessPalette.shade : HarnessPalette.shadeRow

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 8
        spacing: 8
        Column {
            Layout.fillWidth: true
            spacing: 2
            Text { objectName: "bridgeName"; text: row.name + "  ·  " + row.address; color: HarnessPalette.ink; font.weight: Font.DemiBold; elide: Text.ElideRight; width: parent.width }
            Text { objectName: "bridgeDetail"; text: row.detail; color: HarnessPalette.muted; font.pixelSize: 12; elide: Text.ElideRight; width: parent.width }
        }
        Text { visible: row.inUse; text: HarnessLabels.inUse; color: HarnessPalette.muted; font.pixelSize: 12 }
        Button { objectName: "useBridgeButton"; visible: !row.inUse; text: HarnessLabels.use; onClicked: row.use() }
        Button { objectName: "removeBridgeButton"; visible: row.removable; text: HarnessLabels.remove; onClicked: row.remove() }
    }
}
