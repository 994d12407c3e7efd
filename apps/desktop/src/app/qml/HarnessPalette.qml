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
}
