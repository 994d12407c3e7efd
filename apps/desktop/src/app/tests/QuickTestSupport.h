#pragma once

// Helpers for the offscreen screen tests: one QGuiApplication for the test program, a window that shows the
// conversation screen over a root view, lookups by objectName, mouse clicks and key presses through QTest,
// and waiting for a condition with a deadline while the event loop runs.

#include "DesktopCodingHarnessViewModel.h"
#include "FramePacer.h"
#include "RootView.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace rirudez::testing {

// Runs the event loop until `condition` holds or the deadline passes; returns whether it held.
bool waitUntil(const std::function<bool()> &condition,
               std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));

// The application window (Main.qml) over a root view, shown offscreen at the given size.
class ScreenHarness {
public:
    ScreenHarness(RootView &rootView, int width, int height);
    ~ScreenHarness();

    QQuickWindow *window() const { return m_window; }
    // The first item with that objectName (depth first), or nullptr.
    QQuickItem *find(const QString &objectName) const;
    // Every visible item with that objectName.
    QList<QQuickItem *> findAll(const QString &objectName) const;
    // Clicks the centre of an item; false when it is missing or not visible.
    bool click(const QString &objectName);
    bool click(QQuickItem *item);
    // Whether the item is visible and its centre lies inside the window (scrolled into view).
    bool isOnScreen(QQuickItem *item) const;
    bool isOnScreen(const QString &objectName) const { return isOnScreen(find(objectName)); }
    // Types text into the focused item, one key event per character.
    void type(const QString &text);
    void resize(int width, int height);
    // Lets pending layout and polish run and renders a frame.
    void settle();
    // Renders the window into a PNG file; returns whether it was written.
    bool grab(const QString &path);

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    std::unique_ptr<FramePacer> m_pacer; // as the application paces its window
};

// How often the screens under test poll the bridge's session list (the application polls every 4 s).
inline constexpr std::chrono::milliseconds testPollInterval{100};
// The view model the application builds, talking to a local bridge whose state directory and port are these.
// The port is asked at every connection (a bridge started again is followed to its new port); the projects
// and model catalogue are the built-in ones unless given.
RootView::ViewModelFactory localBridgeViewModel(
    const QString &stateDirectory, std::function<int()> port,
    QList<DesktopCodingProject> projects = DesktopCodingHarnessViewModel::sampleProjects(),
    DesktopCodingModelCatalog catalog = DesktopCodingHarnessViewModel::fallbackModelCatalog());
RootView::ViewModelFactory localBridgeViewModel(const QString &stateDirectory, int port);

// Destroys a root view and waits for its start-up task to end, so no polling task outlives the test.
void destroyRootView(std::unique_ptr<RootView> &rootView);

// The value of a QML property as a string / number / bool.
QString text(QQuickItem *item, const char *property = "text");

} // namespace rirudez::testing
