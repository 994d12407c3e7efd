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
    title: "Rirudez"
    color: HarnessPalette.paper

    DesktopCodingHarnessView {
        anchors.fill: parent
        viewModel: window.rootView.codingViewModel
        viewState: window.rootView.viewState
        onShown: window.rootView.startInitialBridgeRefresh()
    }
}
