pragma Singleton
import QtQuick

// The shell's fixed colours: the desktop's light palette, plus the grey desk the canvas pages lie on and the
// tints of the activity kinds.
QtObject {
    readonly property color paper: Qt.rgba(0.95, 0.96, 0.94, 1)
    readonly property color center: Qt.rgba(0.99, 0.99, 0.97, 1)
    readonly property color rail: Qt.rgba(0.27, 0.28, 0.27, 1)
    readonly property color detail: Qt.rgba(0.88, 0.91, 0.89, 1)
    readonly property color desk: Qt.rgba(0.84, 0.84, 0.81, 1)
    readonly property color card: Qt.rgba(1.0, 1.0, 0.98, 1)
    readonly property color ink: Qt.rgba(0.06, 0.08, 0.06, 1)
    readonly property color muted: Qt.rgba(0.28, 0.34, 0.31, 1)
    readonly property color faint: Qt.rgba(0.55, 0.58, 0.52, 1)
    readonly property color border: Qt.rgba(0, 0, 0, 0.16)
    readonly property color teal: Qt.rgba(0.04, 0.34, 0.30, 1)
    readonly property color tealWash: Qt.rgba(0.04, 0.34, 0.30, 0.10)
    readonly property color red: Qt.rgba(0.91, 0.19, 0.13, 1)
    readonly property color amber: Qt.rgba(0.99, 0.93, 0.80, 1)
    readonly property color warningWash: Qt.rgba(0.99, 0.90, 0.86, 1)
    readonly property color sidebarInk: Qt.rgba(1, 1, 1, 0.92)
    readonly property color sidebarMuted: Qt.rgba(1, 1, 1, 0.58)
    readonly property color sidebarSelected: Qt.rgba(1, 1, 1, 0.14)

    // The tint of an activity row by its kind's raw value: failures red, completions teal, the rest muted.
    function activityTint(kind) {
        return kind === "failed" ? red : (kind === "completed" ? teal : muted)
    }
}
