pragma Singleton
import QtQuick

// The conversation screen's fixed colours.
QtObject {
    readonly property color paper: Qt.rgba(0.95, 0.96, 0.94, 1)
    readonly property color center: Qt.rgba(0.99, 0.99, 0.97, 1)
    readonly property color rail: Qt.rgba(0.27, 0.28, 0.27, 1)
    readonly property color inspector: Qt.rgba(0.88, 0.91, 0.89, 1)
    readonly property color panel: Qt.rgba(0.99, 0.99, 0.96, 1)
    readonly property color panelStrong: Qt.rgba(1.0, 1.0, 0.98, 1)
    readonly property color ink: Qt.rgba(0.06, 0.08, 0.06, 1)
    readonly property color muted: Qt.rgba(0.28, 0.34, 0.31, 1)
    readonly property color faint: Qt.rgba(0.55, 0.58, 0.52, 1)
    readonly property color red: Qt.rgba(0.91, 0.19, 0.13, 1)
    readonly property color selected: Qt.rgba(0.03, 0.05, 0.03, 1)
    readonly property color sidebarInk: Qt.rgba(1, 1, 1, 0.9)
    readonly property color sidebarMuted: Qt.rgba(1, 1, 1, 0.58)
    readonly property color sidebarFaint: Qt.rgba(1, 1, 1, 0.42)
    readonly property color sidebarSelected: Qt.rgba(1, 1, 1, 0.13)
    readonly property color border: Qt.rgba(0, 0, 0, 0.22)
    // Tint of status, tool, command, file and assistant rows; also the accent of the composer.
    readonly property color teal: Qt.rgba(0.04, 0.34, 0.30, 1)
    // Text and symbols drawn on a dark or tinted fill (selected chips, the send button, the approve button).
    readonly property color onDark: "white"
    readonly property color onDarkMuted: Qt.rgba(1, 1, 1, 0.7)
    // Shades laid over the light panels: rows, hovers, pressed and disabled controls.
    readonly property color shadeFaint: Qt.rgba(0, 0, 0, 0.02)
    readonly property color shadeRow: Qt.rgba(0, 0, 0, 0.025)
    readonly property color shadeHover: Qt.rgba(0, 0, 0, 0.04)
    readonly property color shadeHoverStrong: Qt.rgba(0, 0, 0, 0.05)
    readonly property color shade: Qt.rgba(0, 0, 0, 0.06)
    readonly property color shadePressed: Qt.rgba(0, 0, 0, 0.08)
    readonly property color shadeBorder: Qt.rgba(0, 0, 0, 0.12)
    readonly property color shadeDisabled: Qt.rgba(0, 0, 0, 0.15)
    readonly property color shadeOff: Qt.rgba(0, 0, 0, 0.18)
    // Light shades laid over the dark rail and the inspector.
    readonly property color sidebarHover: Qt.rgba(1, 1, 1, 0.06)
    readonly property color optionHover: Qt.rgba(1, 1, 1, 0.45)
    // Text selection and the focused editor's border, in the accent.
    readonly property color selection: Qt.rgba(0.04, 0.34, 0.30, 0.25)
    readonly property color focusBorder: Qt.rgba(0.04, 0.34, 0.30, 0.55)
    // The Deny button's pressed fill and border.
    readonly property color redPressed: Qt.rgba(0.91, 0.19, 0.13, 0.12)
    readonly property color redBorder: Qt.rgba(0.91, 0.19, 0.13, 0.5)
}
