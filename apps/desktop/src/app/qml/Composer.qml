import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// The composer: an open picker panel, the prompt editor (78 to 116 high) and the control row with the
// model and effort buttons, the character count and the round send/stop button.
Rectangle {
    id: composer
    // The composer's choices (prompt, model, effort) and the screen's state (the open picker, the labels of
    // efforts, the character count).
    required property DesktopCodingComposerSelection selection
    required property DesktopCodingHarnessViewState viewState
    // The turn: whether one is running, and whether a prompt can be sent or the running turn stopped now.
    required property bool sending
    required property bool canSend
    required property bool canStop
    signal sendRequested()
    signal stopRequested()

    readonly property DesktopCodingComposerSelection sel: selection
    readonly property DesktopCodingHarnessViewState st: viewState
    readonly property int openPicker: st.composerPicker

    implicitHeight: column.implicitHeight + 24
    height: implicitHeight
    color: HarnessPalette.center

    Column {
        id: column
        x: 20
        y: 8
        width: parent.width - 40
        spacing: 8

        PickerPanel {
            id: modelPanel
            objectName: "modelPicker"
            visible: composer.openPicker === DesktopCodingHarnessViewState.ComposerPicker.model
            width: parent.width
            title: HarnessLabels.modelPicker
            options: composer.sel.modelOptions.map(o => ({ id: o.id, title: o.displayName, subtitle: o.speedLabel }))
            currentID: composer.sel.selectedModel.id || ""
            optionPrefix: "modelOption_"
            onClose: composer.st.closeComposerPicker()
            onChosen: (id) => { composer.sel.chooseModelByID(id); composer.st.closeComposerPicker() }
        }
        PickerPanel {
            id: effortPanel
            objectName: "effortPicker"
            visible: composer.openPicker === DesktopCodingHarnessViewState.ComposerPicker.thinking
            width: parent.width
            title: HarnessLabels.effortPicker
            options: composer.sel.thinkingOptions.map(l => ({ id: l, title: composer.st.thinkingLabel(l) }))
            currentID: composer.sel.thinking
            optionPrefix: "effortOption_"
            onClose: composer.st.closeComposerPicker()
            onChosen: (id) => { composer.sel.chooseThinkingByID(id); composer.st.closeComposerPicker() }
        }

        Rectangle {
            width: parent.width
            height: editorBox.height + controls.height + 8
            radius: 14
            color: HarnessPalette.panelStrong
            border.color: editor.activeFocus ? HarnessPalette.focusBorder : HarnessPalette.border
            border.width: 1

            ScrollView {
                id: editorBox
                x: 4
                y: 4
                width: parent.width - 8
                height: Math.max(78, Math.min(116, editor.implicitHeight))
                clip: true
                TextArea {
                    id: editor
                    objectName: "promptEditor"
                    text: composer.sel.promptText
                    onTextChanged: if (composer.sel.promptText !== text) composer.sel.promptText = text
                    placeholderText: HarnessLabels.promptPlaceholder
                    placeholderTextColor: HarnessPalette.faint
                    wrapMode: TextEdit.Wrap
                    color: HarnessPalette.ink
                    selectionColor: HarnessPalette.selection
                    selectedTextColor: HarnessPalette.ink
                    font.pixelSize: 14
                    background: null
                    Accessible.name: HarnessLabels.prompt
                }
            }

            Row {
                id: controls
                anchors.left: parent.left
                anchors.leftMargin: 8
                anchors.right: parent.right
                anchors.rightMargin: 8
                anchors.bottom: parent.bottom
                anchors.bottomMargin: 6
                height: 36
                spacing: 6

                SymbolButton {
                    objectName: "attachButton"
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: "plus"
                    tint: HarnessPalette.muted
                    helpText: HarnessLabels.attach
                }
                SymbolButton {
                    objectName: "modelButton"
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: "bolt"
                    text: composer.sel.selectedModel.displayName || HarnessLabels.defaultModel
                    tint: HarnessPalette.muted
                    selected: composer.openPicker === DesktopCodingHarnessViewState.ComposerPicker.model
                    onClicked: composer.st.toggleComposerPicker(DesktopCodingHarnessViewState.ComposerPicker.model)
                }
                SymbolButton {
                    objectName: "effortButton"
                    anchors.verticalCenter: parent.verticalCenter
                    symbol: "brain"
                    text: composer.st.thinkingLabel(composer.sel.thinking)
                    tint: HarnessPalette.muted
                    selected: composer.openPicker === DesktopCodingHarnessViewState.ComposerPicker.thinking
                    onClicked: composer.st.toggleComposerPicker(DesktopCodingHarnessViewState.ComposerPicker.thinking)
                }
            }
            Text {
                objectName: "characterCount"
                anchors.right: actionButton.left
                anchors.rightMargin: 10
                anchors.verticalCenter: actionButton.verticalCenter
                text: composer.st.characterCount(composer.sel.promptText)
                color: HarnessPalette.faint
                font.pixelSize: 12
            }
            AbstractButton {
                id: actionButton
                objectName: "actionButton"
                readonly property string symbolName: composer.sending ? "stop.fill" : "arrow.up"
                anchors.right: parent.right
                anchors.rightMargin: 10
                anchors.bottom: parent.bottom
                anchors.bottomMargin: 8
                width: 32
                height: 32
                enabled: composer.canSend || composer.canStop
                focusPolicy: Qt.NoFocus
                Accessible.name: composer.sending ? HarnessLabels.stop : HarnessLabels.send
                background: Rectangle {
                    radius: 16
                    color: actionButton.enabled ? (composer.sending ? HarnessPalette.red : HarnessPalette.selected) : HarnessPalette.shadeDisabled
                }
                contentItem: Item {
                    Symbol {
                        anchors.centerIn: parent
                        name: actionButton.symbolName
                        color: HarnessPalette.onDark
                        size: composer.sending ? 12 : 16
                    }
                }
                onClicked: {
                    if (composer.sending)
                        composer.stopRequested()
                    else
                        composer.sendRequested()
                }
            }
        }
    }
}
