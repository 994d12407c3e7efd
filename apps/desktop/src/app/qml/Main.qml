import QtQuick
import QtQuick.Window
import Rirudez.Desktop

// The one window of the application. Its content is the root view's conversation screen.
Window {
    id: window
    required property RootView rootView

    width: 1280
    height: 820
    minimumWidth: 900
    minimumHeight: 560
    visible: true
    // "Rirudez", with the number of threads that have something new.
    title: window.rootView.notifications.windowTitle
    color: HarnessPalette.paper

    // The shell: a second window on the selected conversation (header button or Ctrl+Shift+K).
    function openShell() {
        if (!shellLoader.active)
            shellLoader.active = true
        else if (shellLoader.item) {
            shellLoader.item.show()
            shellLoader.item.raise()
            shellLoader.item.requestActivate()
        }
    }
    Shortcut {
        sequence: "Ctrl+Shift+K"
        context: Qt.WindowShortcut
        onActivated: window.openShell()
    }
    Loader {
        id: shellLoader
        objectName: "shellLoader"
        active: false
        source: "qrc:/qt/qml/Rirudez/Shell/DesktopShellWindow.qml"
        onLoaded: {
            item.coordinator = window.rootView.shellCoordinator()
            item.show()
            item.requestActivate()
        }
    }

    DesktopCodingHarnessView {
        onShellRequested: window.openShell()
        anchors.fill: parent
        viewModel: window.rootView.codingViewModel
        viewState: window.rootView.viewState
        notifications: window.rootView.notifications
        threadSearch: window.rootView.threadSearch
        bridges: window.rootView.bridges
        onShown: window.rootView.startInitialBridgeRefresh()
    }

    // Notifications go to threads the user is not looking at: the window tells whether it is active.
    Binding {
        target: window.rootView.notifications
        property: "windowActive"
        value: window.active
    }
    // A clicked notification has selected its thread; bring the window forward on it.
    Connections {
        target: window.rootView.notifications
        function onActivateRequested() {
            window.show()
            window.raise()
            window.requestActivate()
        }
    }
}
