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

    // The shell: a second window on the selected conversation (header button or Ctrl+Shift+K). Its window is
    // made ahead, hidden and with no conversation, a moment after this screen's first frame and in slices
    // between its frames; opening it then gives it the selected conversation and shows it. Opening before it
    // is made makes it at once.
    property bool shellWanted: false
    function openShell() {
        window.shellWanted = true
        if (shellLoader.status === Loader.Ready) {
            window.presentShell()
            return
        }
        shellLoader.asynchronous = false // finishes a load in slices now
        shellLoader.active = true
    }
    function presentShell() {
        const shell = shellLoader.item
        if (!shell.coordinator)
            shell.coordinator = window.rootView.shellCoordinator()
        shell.show()
        shell.raise()
        shell.requestActivate()
    }
    Shortcut {
        sequence: "Ctrl+Shift+K"
        context: Qt.WindowShortcut
        onActivated: window.openShell()
    }
    Connections {
        id: firstFrame
        target: window
        function onFrameSwapped() {
            firstFrame.enabled = false
            shellAhead.start()
        }
    }
    Timer {
        id: shellAhead
        interval: 500
        onTriggered: shellLoader.active = true
    }
    Loader {
        id: shellLoader
        objectName: "shellLoader"
        active: false
        asynchronous: true
        source: "qrc:/qt/qml/Rirudez/Shell/DesktopShellWindow.qml"
        onLoaded: {
            if (window.shellWanted)
                window.presentShell()
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
