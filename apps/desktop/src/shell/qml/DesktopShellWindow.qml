import QtQuick
import QtQuick.Window
import Rirudez.Shell

// The shell window beside the conversation screen, on the conversation selected there. Keys: Ctrl+B shows or
// hides the library, Ctrl+F searches it, Ctrl+Shift+L opens the local models sheet (Esc closes it), Ctrl+W
// closes the window; in the canvas Page Up/Down, Space, Home and End scroll the pages.
Window {
    id: shell
    property QtObject coordinator
    readonly property alias rootView: root

    width: 1440
    height: 900
    minimumWidth: 960
    minimumHeight: 560
    title: (coordinator && coordinator.conversationTitle.length > 0 ? coordinator.conversationTitle + " — " : "")
           + "Rirudez Shell"
    color: ShellPalette.paper

    Shortcut {
        sequence: "Ctrl+B"
        onActivated: shell.coordinator.toggleSidebar()
    }
    Shortcut {
        sequences: [StandardKey.Find]
        onActivated: {
            if (!shell.coordinator.selection.isSidebarVisible)
                shell.coordinator.toggleSidebar()
            root.librarySidebar.searchField.forceActiveFocus()
            root.librarySidebar.searchField.selectAll()
        }
    }
    Shortcut {
        sequence: "Ctrl+Shift+L"
        onActivated: shell.coordinator.openLocalModels()
    }
    Shortcut {
        sequences: [StandardKey.Close]
        onActivated: shell.close()
    }

    DesktopShellRootView {
        id: root
        // The window's size, not its content item's: the window is made ahead and hidden, where the content
        // item has no size yet, and its views are laid out before it shows.
        width: shell.width
        height: shell.height
        coordinator: shell.coordinator
    }
}
