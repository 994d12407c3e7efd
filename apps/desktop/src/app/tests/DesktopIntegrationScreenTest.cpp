// The rail's thread search and the news badges on the conversation screen, offscreen, over a view model wired
// to our bridge running in-process: Search and Ctrl+F open the field, typing filters every project's threads
// by title and event text, a result opens its thread, Esc clears; a turn that ends in another thread puts a
// badge on it and its count in the window title until the user opens it.

#include "QuickTestSupport.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopNotificationCenter.h"
#include "DesktopNotificationPolicy.h"
#include "DesktopThreadSearchModel.h"
#include "RootView.h"

#include "support/InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace rirudez {
namespace {

using testing::InProcessBridge;
using testing::InProcessBridgeOptions;
using testing::ScreenHarness;
using testing::text;
using testing::waitUntil;

class IntegrationScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        InProcessBridgeOptions options;
        options.chunkDelay = 15ms; // a turn streams for a while, so it is seen running before it ends
        bridge = std::make_unique<InProcessBridge>(options);
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
        const bool finished = waitUntil([&] { return activity(id) == DesktopTurnActivity::finished; }, 15s);
        QStringList log;
        for (const DesktopCodingEvent &event : vm->selectedThread()->session.events)
            log.append(rawValue(event.kind) + u": "_s + event.summary);
        EXPECT_TRUE(finished) << qPrintable(log.join(u'\n'));
        return id;
    }
    DesktopTurnActivity activity(const QString &threadID) const {
        for (const DesktopCodingThread &thread : vm->threads())
            if (thread.id == threadID)
                return DesktopNotificationPolicy::activityOf(thread.session.events);
        return DesktopTurnActivity::none;
    }
    // The threads whose rows the rail shows, top to bottom.
    QStringList shownThreadRows() {
        QList<QQuickItem *> rows;
        for (const DesktopCodingThread &thread : vm->threads())
            for (QQuickItem *row : screen->findAll(u"threadRow_"_s + thread.id))
                if (row->height() > 0)
                    rows.append(row);
        std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
        });
        QStringList ids;
        for (QQuickItem *row : rows)
            ids.append(text(row, "threadID"));
        return ids;
    }
    // Saves the window for looking at it (into RIRUDEZ_SCREENSHOT_DIR when set).
    void screenshot(const QString &name) {
        const QString directory = qEnvironmentVariable("RIRUDEZ_SCREENSHOT_DIR");
        if (!directory.isEmpty() && QDir().mkpath(directory)) {
            EXPECT_TRUE(screen->grab(directory + u'/' + name));
        }
    }
    void typeQuery(const QString &query) {
        QQuickItem *field = screen->find(u"threadSearchField"_s);
        ASSERT_TRUE(field && field->hasActiveFocus());
        QTest::keyClick(screen->window(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(screen->window(), Qt::Key_Backspace);
        screen->type(query);
    }

    std::unique_ptr<InProcessBridge> bridge;
    std::unique_ptr<RootView> rootView;
    std::unique_ptr<ScreenHarness> screen;
    DesktopCodingHarnessViewModel *vm = nullptr;
};

TEST_F(IntegrationScreenTest, SearchFiltersThreadsAsTheUserTypesAndEscClears) {
    const QString deploy = threadWithTurn(u"Préparer le déploiement du serveur"_s);
    const QString login = threadWithTurn(u"why does the login page break"_s);
    const QString notes = threadWithTurn(u"write a report file about the build"_s);
    screen->settle();
    ASSERT_EQ(shownThreadRows().size(), 3); // the pinned threads

    // Search opens the field with the keyboard focus on it.
    EXPECT_FALSE(screen->find(u"threadSearchField"_s)->isVisible());
    ASSERT_TRUE(screen->click(u"searchButton"_s));
    screen->settle();
    ASSERT_TRUE(screen->find(u"threadSearchField"_s)->isVisible());

    // Title and event text, without case or accents; every word must match.
    typeQuery(u"DEPLOIEMENT"_s);
    EXPECT_EQ(shownThreadRows(), QStringList{deploy});
    EXPECT_EQ(text(screen->find(u"searchResultsTitle"_s)), u"1 thread"_s);
    typeQuery(u"LOGIN"_s);
    EXPECT_EQ(shownThreadRows(), QStringList{login});
    // The demo agent's answer mentions the created notes file: event text of the third thread only.
    typeQuery(u"demo-notes"_s);
    EXPECT_EQ(shownThreadRows(), QStringList{notes});
    typeQuery(u"login report"_s);
    EXPECT_TRUE(shownThreadRows().isEmpty());
    EXPECT_TRUE(screen->find(u"noSearchResults"_s)->isVisible());

    // A result opens its thread (of any project) and the search stays.
    typeQuery(u"login"_s);
    ASSERT_TRUE(screen->click(u"threadRow_"_s + login));
    EXPECT_EQ(vm->selectedThread()->id, login);
    EXPECT_EQ(shownThreadRows(), QStringList{login});

    // Esc clears the query and closes the field; the pinned threads are back.
    QTest::keyClick(screen->window(), Qt::Key_Escape);
    screen->settle();
    EXPECT_FALSE(screen->find(u"threadSearchField"_s)->isVisible());
    EXPECT_EQ(rootView->threadSearch()->query(), QString());
    EXPECT_EQ(shownThreadRows().size(), 3);

    // Ctrl+F opens it again, also from a folded rail.
    ASSERT_TRUE(screen->click(u"collapseProjectRailButton"_s));
    QTest::keyClick(screen->window(), Qt::Key_F, Qt::ControlModifier);
    screen->settle();
    ASSERT_NE(screen->find(u"projectRail"_s), nullptr);
    ASSERT_TRUE(waitUntil([&] {
        QQuickItem *field = screen->find(u"threadSearchField"_s);
        return field && field->isVisible() && field->hasActiveFocus();
    }));
    typeQuery(u"serveur"_s);
    EXPECT_EQ(shownThreadRows(), QStringList{deploy});
    screenshot(u"thread-search.png"_s);
}

TEST_F(IntegrationScreenTest, ATurnEndingInAnotherThreadShowsABadgeAndTheCount) {
    DesktopNotificationCenter *center = rootView->notifications();
    center->setWindowActive(true);
    vm->startThread();
    const QString background = vm->selectedThread()->id;
    vm->setPromptText(u"tell me about the project in detail"_s);
    vm->requestSendPrompt();
    ASSERT_TRUE(waitUntil([&] { return activity(background) == DesktopTurnActivity::running; }, 10s));
    center->settle();
    vm->startThread(); // the user moves on
    ASSERT_TRUE(waitUntil([&] { return activity(background) == DesktopTurnActivity::finished; }, 15s));
    center->settle();
    screen->settle();

    QQuickItem *badge = screen->find(u"newsBadge_"_s + background);
    ASSERT_NE(badge, nullptr);
    EXPECT_TRUE(badge->isVisible());
    EXPECT_EQ(screen->window()->title(), u"Rirudez (1)"_s);
    screenshot(u"news-badge.png"_s);

    ASSERT_TRUE(screen->click(u"threadRow_"_s + background));
    screen->settle();
    EXPECT_FALSE(screen->find(u"newsBadge_"_s + background)->isVisible());
    EXPECT_EQ(screen->window()->title(), u"Rirudez"_s);
}

} // namespace
} // namespace rirudez
