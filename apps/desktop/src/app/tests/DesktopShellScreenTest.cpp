// The shell window on the screen, offscreen, over a view model wired to our bridge running in-process:
// Ctrl+Shift+K and the header button open it (once) on the selected thread; it shows that thread in the
// library, its turns and created file in the timeline, its writing on canvas pages, and what the bridge did;
// it follows the conversation screen's selection and a click in its library selects the thread there; its own
// keys work.

#include "QuickTestSupport.h"

#include "DesktopBridgeActivityStore.h"
#include "DesktopCanvasReplayRole.h"
#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopNotificationPolicy.h"
#include "DesktopShellCoordinator.h"
#include "RootView.h"

#include "support/InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace rirudez {
namespace {

using testing::InProcessBridge;
using testing::ScreenHarness;
using testing::text;
using testing::waitUntil;

void collect(QQuickItem *item, const QString &name, QList<QQuickItem *> &found) {
    if (!item)
        return;
    if (item->objectName() == name && item->isVisible())
        found.append(item);
    const auto children = item->childItems();
    for (QQuickItem *child : children)
        collect(child, name, found);
}

// Pixels within a small distance of a colour.
bool near(QColor a, QColor b, int tolerance) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <=
           tolerance;
}

class ShellScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        bridge = std::make_unique<InProcessBridge>();
        ASSERT_TRUE(bridge->isRunning());
        const QString state = bridge->stateDirectory();
        const int port = bridge->port();
        rootView =
            std::make_unique<RootView>(testing::localBridgeViewModel(state, port), testing::testPollInterval);
        screen = std::make_unique<ScreenHarness>(*rootView, 1280, 820);
        ASSERT_NE(screen->window(), nullptr);
        vm = rootView->codingViewModel();
        ASSERT_TRUE(waitUntil([&] { return vm->selectedProjectID() == bridge->demoProjectID(); }, 10s));
        vm->stopBridgeSessionDiscoveryLoop();
        screen->settle();
    }
    void TearDown() override {
        if (QQuickWindow *window = shellWindow())
            window->close();
        screen.reset();
        testing::destroyRootView(rootView);
        bridge.reset();
    }

    // A new thread with one finished turn; returns its id.
    QString threadWithTurn(const QString &prompt) {
        vm->startThread();
        const QString id = vm->selectedThread()->id;
        vm->setPromptText(prompt);
        vm->requestSendPrompt();
        EXPECT_TRUE(waitUntil(
            [&] {
                for (const DesktopCodingThread &thread : vm->threads())
                    if (thread.id == id)
                        return DesktopNotificationPolicy::activityOf(thread.session.events) ==
                               DesktopTurnActivity::finished;
                return false;
            },
            15s));
        return id;
    }

    QQuickWindow *shellWindow() const {
        QQuickItem *loader = screen ? screen->find(u"shellLoader"_s) : nullptr;
        return loader ? qobject_cast<QQuickWindow *>(loader->property("item").value<QObject *>()) : nullptr;
    }
    QList<QQuickItem *> inShell(const QString &objectName) const {
        QList<QQuickItem *> found;
        if (QQuickWindow *window = shellWindow())
            collect(window->contentItem(), objectName, found);
        return found;
    }
    QQuickItem *oneInShell(const QString &objectName) const {
        const QList<QQuickItem *> found = inShell(objectName);
        return found.isEmpty() ? nullptr : found.constFirst();
    }
    // Renders the shell window's next frame (which also runs its polish and layout).
    QImage shellFrame() {
        QCoreApplication::processEvents();
        return shellWindow()->grabWindow();
    }
    bool clickInShell(QQuickItem *item) {
        if (!item || !item->isVisible())
            return false;
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(shellWindow(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        shellFrame();
        return true;
    }
    // Opens the shell with Ctrl+Shift+K on the conversation screen and waits until it has the focus.
    QQuickWindow *openWithShortcut() {
        screen->window()->requestActivate();
        EXPECT_TRUE(waitUntil([&] { return QGuiApplication::focusWindow() == screen->window(); }));
        QTest::keyClick(screen->window(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(waitUntil([&] { return shellWindow() && shellWindow()->isExposed(); }));
        QQuickWindow *window = shellWindow();
        if (window) {
            EXPECT_TRUE(waitUntil([&] { return QGuiApplication::focusWindow() == window; }));
            shellFrame();
        }
        return window;
    }
    DesktopShellCoordinator *coordinator() const {
        return qobject_cast<DesktopShellCoordinator *>(rootView->shellCoordinator());
    }
    // The turn ids of the timeline's rows, top to bottom.
    QStringList timelineRows() {
        QList<QQuickItem *> rows;
        for (const DesktopTimelineTurn &turn : coordinator()->timelineHistory().turns())
            rows.append(inShell(u"timelineRow_"_s + turn.id));
        std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
        });
        QStringList ids;
        for (QQuickItem *row : rows)
            ids.append(text(row, "turnID"));
        return ids;
    }
    void screenshot(const QString &name) {
        const QString directory = qEnvironmentVariable("RIRUDEZ_SCREENSHOT_DIR");
        if (!directory.isEmpty() && QDir().mkpath(directory)) {
            EXPECT_TRUE(shellFrame().save(directory + u'/' + name));
        }
    }

    std::unique_ptr<InProcessBridge> bridge;
    std::unique_ptr<RootView> rootView;
    std::unique_ptr<ScreenHarness> screen;
    DesktopCodingHarnessViewModel *vm = nullptr;
};

TEST_F(ShellScreenTest, CtrlShiftKOpensTheShellOnTheSelectedThreadWithTimelineCanvasAndActivity) {
    const QString notes = threadWithTurn(u"write a report file about the build"_s);
    ASSERT_EQ(vm->selectedThread()->id, notes);
    // The window is made ahead while the conversation screen is idle: hidden, with no conversation, until
    // the user asks.
    ASSERT_TRUE(waitUntil([&] { return shellWindow() != nullptr; }));
    EXPECT_FALSE(shellWindow()->isVisible());
    EXPECT_EQ(shellWindow()->property("coordinator").value<QObject *>(), nullptr);

    QQuickWindow *window = openWithShortcut();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->title().startsWith(vm->selectedThread()->title)) << window->title().toStdString();

    // The library lists the thread, selected.
    ASSERT_TRUE(waitUntil([&] { return oneInShell(u"libraryRow_"_s + notes) != nullptr; }));
    EXPECT_TRUE(oneInShell(u"libraryRow_"_s + notes)->property("selected").toBool());

    // The timeline: the prompt, then the answer with the file it created.
    const DesktopTimelineHistory &history = coordinator()->timelineHistory();
    ASSERT_GE(history.turnCount(), 2);
    EXPECT_EQ(history.turns().constFirst().role, DesktopTimelineRole::user);
    EXPECT_GE(history.artifactCount(), 1);
    shellFrame();
    QStringList expected;
    for (const DesktopTimelineTurn &turn : history.turns())
        expected.append(turn.id);
    EXPECT_EQ(timelineRows(), expected);

    // The canvas: the first page on the screen with both inks on it, and no empty state.
    QQuickItem *page = oneInShell(u"canvasPage_0"_s);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(oneInShell(u"canvasEmptyState"_s), nullptr);
    ASSERT_TRUE(
        waitUntil([&] { return page->property("drawn").toBool(); })); // its image is drawn off the UI thread
    const QImage frame = shellFrame();
    const QRectF pageRect = page->mapRectToScene(QRectF(0, 0, page->width(), page->height()))
                                .intersected(QRectF(0, 0, window->width(), window->height()));
    ASSERT_FALSE(pageRect.isEmpty());
    const double ratio = window->devicePixelRatio();
    int userInk = 0;
    int agentInk = 0;
    for (int y = int(pageRect.top() * ratio); y < int(pageRect.bottom() * ratio); ++y)
        for (int x = int(pageRect.left() * ratio); x < int(pageRect.right() * ratio); ++x) {
            const QColor pixel = frame.pixelColor(x, y);
            userInk += near(pixel, inkColor(DesktopCanvasReplayRole::user), 24) ? 1 : 0;
            agentInk += near(pixel, inkColor(DesktopCanvasReplayRole::assistant), 24) ? 1 : 0;
        }
    EXPECT_GT(userInk, 50);
    EXPECT_GT(agentInk, 50);

    // The activity column: the turn's completion is the latest entry.
    ASSERT_TRUE(waitUntil([&] { return oneInShell(u"latestActivity"_s) != nullptr; }));
    EXPECT_EQ(oneInShell(u"activityEmptyState"_s), nullptr);
    const DesktopBridgeActivityLog &log = coordinator()->bridgeActivityLog();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.latest()->kind, DesktopBridgeActivityKind::completed);
    screenshot(u"shell.png"_s);

    // Asking again (shortcut or header button) brings the same window forward instead of a second one.
    screen->window()->requestActivate();
    ASSERT_TRUE(waitUntil([&] { return QGuiApplication::focusWindow() == screen->window(); }));
    ASSERT_TRUE(screen->click(u"openShellButton"_s));
    ASSERT_TRUE(waitUntil([&] { return QGuiApplication::focusWindow() == window; }));
    EXPECT_EQ(shellWindow(), window);
}

TEST_F(ShellScreenTest, TheShellFollowsTheSelectionBothWays) {
    const QString first = threadWithTurn(u"why does the login page break"_s);
    const QString second = threadWithTurn(u"write a report file about the build"_s);
    QQuickWindow *window = openWithShortcut();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(coordinator()->selection()->libraryID(), second);

    // The conversation screen selects another thread: the shell follows.
    vm->selectThread(first);
    ASSERT_TRUE(waitUntil([&] { return coordinator()->selection()->libraryID() == first; }));
    ASSERT_TRUE(waitUntil([&] {
        shellFrame();
        QQuickItem *row = oneInShell(u"libraryRow_"_s + first);
        return row && row->property("selected").toBool();
    }));
    EXPECT_TRUE(window->title().startsWith(vm->selectedThread()->title));

    // A click on a library row in the shell selects that thread on the conversation screen.
    ASSERT_TRUE(clickInShell(oneInShell(u"libraryRow_"_s + second)));
    ASSERT_TRUE(waitUntil([&] { return vm->selectedThread() && vm->selectedThread()->id == second; }));
    EXPECT_EQ(coordinator()->selection()->libraryID(), second);

    // A click on a turn selects it; Down moves to the next one.
    shellFrame();
    const QStringList rows = timelineRows();
    ASSERT_GE(rows.size(), 2);
    ASSERT_TRUE(clickInShell(oneInShell(u"timelineRow_"_s + rows[0])));
    EXPECT_EQ(coordinator()->selection()->timelineID(), rows[0]);
    QTest::keyClick(window, Qt::Key_Down);
    EXPECT_EQ(coordinator()->selection()->timelineID(), rows[1]);
    EXPECT_TRUE(oneInShell(u"timelineRow_"_s + rows[1])->property("selected").toBool());
}

TEST_F(ShellScreenTest, KeysHideTheLibrarySearchItAndOpenAndCloseTheLocalModelsSheet) {
    const QString deploy = threadWithTurn(u"Préparer le déploiement du serveur"_s);
    const QString login = threadWithTurn(u"why does the login page break"_s);
    QQuickWindow *window = openWithShortcut();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntil([&] { return oneInShell(u"libraryRow_"_s + deploy) != nullptr; }));

    // Ctrl+B hides the library column and gives the canvas its width; again shows it.
    QQuickItem *canvas = oneInShell(u"canvasColumn"_s);
    ASSERT_NE(canvas, nullptr);
    const double canvasWidth = canvas->width();
    QTest::keyClick(window, Qt::Key_B, Qt::ControlModifier);
    shellFrame();
    EXPECT_EQ(oneInShell(u"librarySidebar"_s), nullptr);
    EXPECT_GT(canvas->width(), canvasWidth);
    QTest::keyClick(window, Qt::Key_B, Qt::ControlModifier);
    shellFrame();
    EXPECT_NE(oneInShell(u"librarySidebar"_s), nullptr);
    EXPECT_EQ(canvas->width(), canvasWidth);

    // Ctrl+F puts the keyboard in the library search; typing filters the rows.
    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    shellFrame();
    QQuickItem *search = oneInShell(u"librarySearch"_s);
    ASSERT_TRUE(search && search->hasActiveFocus());
    for (const QChar c : u"login"_s)
        QTest::keyClick(window, c.toLatin1());
    ASSERT_TRUE(waitUntil([&] {
        shellFrame();
        return oneInShell(u"libraryRow_"_s + deploy) == nullptr && oneInShell(u"libraryRow_"_s + login);
    }));

    // Ctrl+Shift+L opens the local models sheet; Esc closes it.
    QTest::keyClick(window, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(waitUntil([&] {
        shellFrame();
        return oneInShell(u"localModelsSheetContent"_s) != nullptr;
    }));
    EXPECT_TRUE(coordinator()->selection()->isLocalModelsOpen());
    screenshot(u"shell-local-models.png"_s);
    QTest::keyClick(window, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return !coordinator()->selection()->isLocalModelsOpen(); }));
    ASSERT_TRUE(waitUntil([&] {
        shellFrame();
        return oneInShell(u"localModelsSheetContent"_s) == nullptr;
    }));
    // The activity column's button opens it too, and Done closes it.
    ASSERT_TRUE(clickInShell(oneInShell(u"openLocalModelsButton"_s)));
    ASSERT_TRUE(waitUntil([&] {
        shellFrame();
        return oneInShell(u"closeLocalModelsButton"_s) != nullptr;
    }));
    ASSERT_TRUE(clickInShell(oneInShell(u"closeLocalModelsButton"_s)));
    ASSERT_TRUE(waitUntil([&] { return !coordinator()->selection()->isLocalModelsOpen(); }));

    // Ctrl+W closes the shell window; the conversation screen stays.
    QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return !window->isVisible(); }));
    EXPECT_TRUE(screen->window()->isVisible());
}

} // namespace
} // namespace rirudez
