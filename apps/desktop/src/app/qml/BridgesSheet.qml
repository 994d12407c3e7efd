import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts
import Rirudez.Desktop
import Rirudez.BridgeKit.Scanner

// The Bridges sheet, opened from the rail's Bridge pill: the bridge on this computer, the paired bridges
// (use, remove), and pairing a new one by link, QR code (camera or image), a bridge seen on the local network
// and its code, or an address and code. Everything it does goes through `bridges` (DesktopBridgesController);
// it only binds and forwards. The network is browsed while the sheet is open.
Popup {
    id: sheet
    // The Bridges sheet's controller (DesktopBridgesController); null when there is none.
    required property QtObject bridges
    readonly property bool scanning: scannerLoader.active
    // The id of the bridge on the network picked for pairing ("" for none); pickedBridge is its row of
    // bridges.discoveredBridges while it is listed, undefined otherwise.
    property string pickedBridgeID: ""
    readonly property var pickedBridge: {
        const rows = bridges ? bridges.discoveredBridges : []
        for (let i = 0; i < rows.length; ++i)
            if (rows[i].id === pickedBridgeID)
                return rows[i]
        return undefined
    }

    objectName: "bridgesSheet"
    modal: true
    focus: true
    padding: 22
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    width: Math.min(640, (parent ? parent.width : 640) - 48)
    height: Math.min(content.implicitHeight + 2 * padding, (parent ? parent.height : 720) - 48)
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    onOpened: {
        if (bridges)
            bridges.startDiscovery()
    }
    onClosed: {
        scannerLoader.active = false
        pickedBridgeID = ""
        if (bridges) {
            bridges.stopDiscovery()
            bridges.clearMessages()
        }
    }

    background: Rectangle {
        objectName: "bridgesSheetPanel"
        radius: 14
        color: HarnessPalette.paper
        border.color: HarnessPalette.shadeBorder
    }

    Flickable {
        anchors.fill: parent
        contentHeight: content.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds

        ColumnLayout {
            id: content
            width: parent.width
            spacing: 10

            RowLayout {
                Layout.fillWidth: true
                Text { text: HarnessLabels.bridges; font.pixelSize: 20; font.weight: Font.DemiBold; color: HarnessPalette.ink; Layout.fillWidth: true }
                BusyIndicator { objectName: "bridgesBusy"; running: sheet.bridges && sheet.bridges.busy; visible: running; implicitWidth: 24; implicitHeight: 24 }
                Button { text: HarnessLabels.done; onClicked: sheet.close() }
            }

            Text {
                objectName: "bridgesError"
                Layout.fillWidth: true
                visible: text.length > 0
                text: sheet.bridges ? sheet.bridges.errorText : ""
                color: HarnessPalette.red
                wrapMode: Text.Wrap
            }
            Text {
                objectName: "bridgesStatus"
                Layout.fillWidth: true
                visible: text.length > 0
                text: sheet.bridges ? sheet.bridges.statusText : ""
                color: HarnessPalette.muted
                wrapMode: Text.Wrap
            }

            SectionTitle { text: HarnessLabels.thisComputer }
            BridgeRow {
                objectName: "localBridgeRow"
                Layout.fillWidth: true
                name: HarnessLabels.thisComputer
                address: sheet.bridges ? sheet.bridges.localAddress : HarnessLabels.localBridgeAddress
                detail: HarnessLabels.localBridgeDetail
                inUse: !sheet.bridges || sheet.bridges.selectedBridgeID === ""
                removable: false
                onUse: sheet.bridges.choose("")
            }

            SectionTitle { text: HarnessLabels.pairedBridges }
            Text {
                Layout.fillWidth: true
                visible: !sheet.bridges || sheet.bridges.pairedBridges.length === 0
                text: HarnessLabels.noPairedBridges
                color: HarnessPalette.muted
            }
            Repeater {
                objectName: "pairedBridgeRows"
                model: sheet.bridges ? sheet.bridges.pairedBridges : []
                delegate: BridgeRow {
                    required property var modelData
                    objectName: "pairedBridgeRow"
                    Layout.fillWidth: true
                    name: modelData.name
                    address: modelData.address
                    detail: HarnessLabels.fingerprintLine(modelData.fingerprint)
                    inUse: sheet.bridges.selectedBridgeID === modelData.id
                    removable: true
                    onUse: sheet.bridges.choose(modelData.id)
                    onRemove: sheet.bridges.remove(modelData.id)
                }
            }
            Text {
                objectName: "tokenStorageText"
                Layout.fillWidth: true
                text: sheet.bridges ? sheet.bridges.tokenStorageText : ""
                color: HarnessPalette.muted
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }

            SectionTitle { text: HarnessLabels.pairABridge }
            Text {
                Layout.fillWidth: true
                text: HarnessLabels.pairHint
                color: HarnessPalette.muted
                wrapMode: Text.Wrap
            }
            RowLayout {
                Layout.fillWidth: true
                TextField {
                    id: linkField
                    objectName: "pairLinkField"
                    Layout.fillWidth: true
                    placeholderText: HarnessLabels.pairLinkPlaceholder
                    echoMode: TextInput.Password // the link carries the bridge's token
                    onAccepted: pairLink.clicked()
                }
                Button {
                    id: pairLink
                    objectName: "pairLinkButton"
                    text: HarnessLabels.pair
                    enabled: sheet.bridges && !sheet.bridges.busy && linkField.text.length > 0
                    onClicked: { sheet.bridges.requestPairWithLink(linkField.text); linkField.clear() }
                }
            }
            RowLayout {
                Layout.fillWidth: true
                Button {
                    objectName: "scanButton"
                    text: sheet.scanning ? HarnessLabels.stopScanning : HarnessLabels.scanQrCode
                    enabled: sheet.bridges && !sheet.bridges.busy
                    onClicked: scannerLoader.active = !scannerLoader.active
                }
                Button {
                    objectName: "openImageButton"
                    text: HarnessLabels.openImage
                    enabled: sheet.bridges && !sheet.bridges.busy
                    onClicked: imageDialog.open()
                }
                Text { text: HarnessLabels.dropImageHint; color: HarnessPalette.muted; Layout.fillWidth: true }
            }
            Loader {
                id: scannerLoader
                objectName: "scannerLoader"
                Layout.fillWidth: true
                Layout.preferredHeight: active ? 260 : 0
                active: false
                sourceComponent: BridgePairScannerView {
                    onCode: text => {
                        scannerLoader.active = false
                        sheet.bridges.requestPairWithLink(text)
                    }
                }
            }
            Text { text: HarnessLabels.onThisNetwork; color: HarnessPalette.ink; font.weight: Font.DemiBold }
            Text {
                objectName: "discoveryText"
                Layout.fillWidth: true
                visible: text.length > 0
                text: sheet.bridges ? sheet.bridges.discoveryText : ""
                color: HarnessPalette.muted
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
            Repeater {
                objectName: "discoveredBridgeRows"
                model: sheet.bridges ? sheet.bridges.discoveredBridges : []
                delegate: Rectangle {
                    id: found
                    required property var modelData
                    readonly property bool picked: sheet.pickedBridgeID === modelData.id
                    objectName: "discoveredBridgeRow"
                    Layout.fillWidth: true
                    implicitHeight: 40
                    radius: 8
                    color: picked ? HarnessPalette.shadePressed : foundArea.containsMouse ? HarnessPalette.shadeHover : HarnessPalette.shadeFaint
                    border.color: picked ? HarnessPalette.teal : "transparent"
                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 12
                        anchors.rightMargin: 12
                        spacing: 8
                        Text { objectName: "discoveredBridgeName"; text: found.modelData.name; color: HarnessPalette.ink; font.weight: Font.DemiBold; elide: Text.ElideRight; Layout.fillWidth: true }
                        Text {
                            objectName: "discoveredBridgeDetail"
                            text: HarnessLabels.discoveredBridgeDetail(found.modelData.fingerprint, found.modelData.paired)
                            color: HarnessPalette.muted
                            font.pixelSize: 12
                        }
                    }
                    MouseArea {
                        id: foundArea
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onClicked: {
                            sheet.pickedBridgeID = found.modelData.id
                            discoveredCodeField.forceActiveFocus()
                        }
                    }
                }
            }
            RowLayout {
                Layout.fillWidth: true
                visible: sheet.pickedBridge !== undefined
                Text {
                    Layout.fillWidth: true
                    text: sheet.pickedBridge ? HarnessLabels.codeShownBy(sheet.pickedBridge.name) : ""
                    color: HarnessPalette.muted
                    elide: Text.ElideRight
                }
                TextField {
                    id: discoveredCodeField
                    objectName: "discoveredCodeField"
                    Layout.preferredWidth: 130
                    placeholderText: HarnessLabels.code
                    inputMethodHints: Qt.ImhDigitsOnly
                    onAccepted: if (pairDiscovered.enabled) pairDiscovered.clicked()
                }
                Button {
                    id: pairDiscovered
                    objectName: "pairDiscoveredButton"
                    text: HarnessLabels.pair
                    enabled: sheet.bridges && !sheet.bridges.busy && sheet.pickedBridge !== undefined && discoveredCodeField.text.length > 0
                    onClicked: {
                        sheet.bridges.requestPairWithDiscovered(sheet.pickedBridgeID, discoveredCodeField.text)
                        discoveredCodeField.clear()
                    }
                }
            }

            Text { text: HarnessLabels.byAddress; color: HarnessPalette.ink; font.weight: Font.DemiBold }
            RowLayout {
                Layout.fillWidth: true
                TextField {
                    id: addressField
                    objectName: "pairAddressField"
                    Layout.fillWidth: true
                    placeholderText: HarnessLabels.addressPlaceholder
                }
                TextField {
                    id: codeField
                    objectName: "pairCodeField"
                    Layout.preferredWidth: 130
                    placeholderText: HarnessLabels.code
                    inputMethodHints: Qt.ImhDigitsOnly
                    onAccepted: pairCode.clicked()
                }
                Button {
                    id: pairCode
                    objectName: "pairCodeButton"
                    text: HarnessLabels.pairWithCode
                    enabled: sheet.bridges && !sheet.bridges.busy && addressField.text.length > 0 && codeField.text.length > 0
                    onClicked: { sheet.bridges.requestPairWithCode(addressField.text, codeField.text); codeField.clear() }
                }
            }
        }
    }

    DropArea {
        objectName: "imageDropArea"
        anchors.fill: parent
        keys: ["text/uri-list"]
        onDropped: drop => {
            if (drop.hasUrls && sheet.bridges)
                sheet.bridges.requestPairWithImage(drop.urls[0].toString())
        }
    }

    FileDialog {
        id: imageDialog
        title: HarnessLabels.openImageTitle
        nameFilters: [HarnessLabels.imageFilter]
        onAccepted: sheet.bridges.requestPairWithImage(selectedFile.toString())
    }
}
