// The Bridges sheet offscreen over the conversation screen: opened from the rail's Bridge pill, this
// computer in use by default, pairing a bridge by its pair link (our bridge in-process plays the bridge on
// another machine), the pill then naming it, a link that does not parse said in words, going back to this
// computer, no token anywhere on screen; pairing a bridge picked in the network list by its code; and a
// screenshot of the sheet (docs/).

#include "QuickTestSupport.h"

#include "DesktopBridgesController.h"
#include "DesktopChosenBridge.h"
#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "RootView.h"

#include "support/EventLoop.h"
#include "support/InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QDir>
#include <QTemporaryDir>
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

// Every text shown in the window, from every item that has one.
QStringList shownTexts(QQuickItem *item) {
    QStringList texts;
    if (!item)
        return texts;
    const QVariant value = item->property("text");
    if (value.isValid() && item->isVisible())
        texts.append(value.toString());
    const auto children = item->childItems();
    for (QQuickItem *child : children)
        texts += shownTexts(child);
    return texts;
}

class BridgesSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        // No DNS-SD service is reachable from here: the network list shows only what a test gives it.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + data.filePath(u"no-bus"_s).toUtf8());
        local = std::make_unique<InProcessBridge>();
        remote = std::make_unique<InProcessBridge>();
        ASSERT_TRUE(local->isRunning() && remote->isRunning());
        const QString state = local->stateDirectory();
        // The application's wiring, with the local bridge on an ephemeral port instead of 8800.
        auto source = std::make_shared<DesktopChosenBridgeSource>(
            std::make_shared<LocalDesktopCodingBridgeHealthSource>(state, u"127.0.0.1"_s, local->port()));
        auto client = std::make_shared<DesktopChosenBridgeClient>(
            std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>()), source);
        rootView = std::make_unique<RootView>(RootView::chosenBridgeViewModel(state, source, client),
                                              testing::testPollInterval);
        auto store = std::make_shared<DesktopPairedBridgeStore>(data.path());
        auto vault =
            std::make_shared<DesktopBridgeTokenVault>(data.path(), u"org.rirudez.Desktop.test"_s, false);
        rootView->setBridges(std::make_unique<DesktopBridgesController>(u"127.0.0.1:8800"_s, store, vault));
        rootView->followChosenBridge(source, client);
        bridges = rootView->bridges();
        screen = std::make_unique<ScreenHarness>(*rootView, 1280, 820);
        ASSERT_NE(screen->window(), nullptr);
    }
    void TearDown() override {
        screen.reset();
        testing::destroyRootView(rootView);
    }

    QQuickItem *sheet() { return screen->find(u"bridgesSheetPanel"_s); }
    bool sheetOpen() {
        QQuickItem *item = sheet();
        return item && item->isVisible();
    }
    // Clicks a text field and types into it.
    void typeInto(const QString &field, const QString &value) {
        ASSERT_TRUE(screen->click(field));
        screen->type(value);
        screen->settle();
    }
    void expectNoTokenOnScreen() {
        for (const QString &shown : shownTexts(screen->window()->contentItem())) {
            EXPECT_FALSE(shown.contains(remote->token())) << shown.toStdString();
            EXPECT_FALSE(shown.contains(local->token())) << shown.toStdString();
        }
    }

    QTemporaryDir data;
    std::unique_ptr<InProcessBridge> local;
    std::unique_ptr<InProcessBridge> remote;
    std::unique_ptr<RootView> rootView;
    DesktopBridgesController *bridges = nullptr;
    std::unique_ptr<ScreenHarness> screen;
};

TEST_F(BridgesSheetTest, PairByLinkFromThePillAndGoBack) {
    EXPECT_EQ(text(screen->find(u"bridgePill"_s)->findChild<QQuickItem *>(u"pillValue"_s)), u"Local"_s);
    ASSERT_TRUE(screen->click(u"bridgePillArea"_s));
    ASSERT_TRUE(waitUntil([&] { return sheetOpen(); }));
    screen->settle();
    EXPECT_TRUE(screen->isOnScreen(u"localBridgeRow"_s));
    EXPECT_FALSE(
        screen->find(u"localBridgeRow"_s)->findChild<QQuickItem *>(u"useBridgeButton"_s)->isVisible());

    // A link that does not parse: the sheet says which part.
    QString broken = remote->pairing().url(u"doduzadod"_s);
    broken.replace(u"port="_s, u"prt="_s);
    typeInto(u"pairLinkField"_s, broken);
    ASSERT_TRUE(screen->click(u"pairLinkButton"_s));
    ASSERT_TRUE(waitUntil([&] { return !text(screen->find(u"bridgesError"_s)).isEmpty(); }));
    EXPECT_TRUE(text(screen->find(u"bridgesError"_s)).contains(u"port"_s));
    expectNoTokenOnScreen();

    // The real link pairs, and the desktop uses the new bridge.
    typeInto(u"pairLinkField"_s, remote->pairing().url(u"doduzadod"_s));
    ASSERT_TRUE(screen->click(u"pairLinkButton"_s));
    ASSERT_TRUE(waitUntil([&] { return screen->findAll(u"pairedBridgeRow"_s).size() == 1; }, 10s))
        << bridges->errorText().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !bridges->isBusy(); }));
    screen->settle();
    QQuickItem *row = screen->findAll(u"pairedBridgeRow"_s).constFirst();
    EXPECT_TRUE(
        text(row->findChild<QQuickItem *>(u"bridgeName"_s)).contains(remote->pairing().description()));
    EXPECT_TRUE(
        text(row->findChild<QQuickItem *>(u"bridgeDetail"_s)).contains(remote->fingerprint().left(8)));
    EXPECT_TRUE(text(screen->find(u"tokenStorageText"_s)).contains(u"private file"_s));
    EXPECT_TRUE(
        screen->find(u"localBridgeRow"_s)->findChild<QQuickItem *>(u"useBridgeButton"_s)->isVisible());
    expectNoTokenOnScreen();

    const QString dir =
        qEnvironmentVariable("RIRUDEZ_SCREENSHOT_DIR", QDir::currentPath() + u"/screenshots"_s);
    QDir().mkpath(dir);
    EXPECT_TRUE(screen->grab(dir + u"/bridges-sheet-link.png"_s));

    // Back to this computer.
    ASSERT_TRUE(
        screen->click(screen->find(u"localBridgeRow"_s)->findChild<QQuickItem *>(u"useBridgeButton"_s)));
    EXPECT_EQ(bridges->selectedBridgeID(), QString());
    ASSERT_TRUE(screen->click(row->findChild<QQuickItem *>(u"useBridgeButton"_s)));
    EXPECT_EQ(bridges->selectedBridgeID(), bridges->store()->bridges().constFirst().id);

    // Escape closes the sheet; the pill names the bridge in use.
    QTest::keyClick(screen->window(), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return !sheetOpen(); }));
    EXPECT_EQ(text(screen->find(u"bridgePill"_s)->findChild<QQuickItem *>(u"pillValue"_s)),
              bridges->selectedBridgeName());
    EXPECT_NE(bridges->selectedBridgeName(), u"Local"_s);
}

TEST_F(BridgesSheetTest, PairsABridgePickedOnTheNetworkByItsCode) {
    ASSERT_TRUE(screen->click(u"bridgePillArea"_s));
    ASSERT_TRUE(waitUntil([&] { return sheetOpen(); }));
    // Nothing can be browsed here; the sheet says why.
    ASSERT_TRUE(waitUntil([&] { return screen->isOnScreen(u"discoveryText"_s); }));
    EXPECT_TRUE(text(screen->find(u"discoveryText"_s)).contains(u"avahi-daemon"_s));

    // The list as discovery gives it: our other bridge (resolving to its loopback address) and one more.
    const HostPortEndpoint at{remote->host(), int(remote->port())};
    bridges->setDiscoveredBridges(
        {BridgeDiscoveryFound{u"Build box"_s, u"Build box"_s, remote->fingerprint(), at},
         BridgeDiscoveryFound{u"Studio"_s, u"Studio"_s, std::nullopt, at}});
    ASSERT_TRUE(waitUntil([&] { return screen->findAll(u"discoveredBridgeRow"_s).size() == 2; }));
    screen->settle();
    EXPECT_FALSE(screen->isOnScreen(u"discoveryText"_s));
    EXPECT_FALSE(screen->isOnScreen(u"discoveredCodeField"_s)); // nothing picked yet

    ASSERT_TRUE(screen->click(screen->findAll(u"discoveredBridgeRow"_s).constFirst()));
    ASSERT_TRUE(waitUntil([&] { return screen->isOnScreen(u"discoveredCodeField"_s); }));
    // The code field has the focus: typing and Enter pair.
    screen->type(remote->issuePairingCode());
    QTest::keyClick(screen->window(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return screen->findAll(u"pairedBridgeRow"_s).size() == 1; }, 10s))
        << bridges->errorText().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !bridges->isBusy(); }));
    screen->settle();
    EXPECT_EQ(bridges->selectedBridgeID(), bridges->store()->bridges().constFirst().id);
    EXPECT_EQ(bridges->store()->bridges().constFirst().fingerprint, remote->fingerprint());
    const QList<QQuickItem *> rows = screen->findAll(u"discoveredBridgeRow"_s);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(text(rows[0]->findChild<QQuickItem *>(u"discoveredBridgeDetail"_s)).contains(u"paired"_s));
    EXPECT_TRUE(text(rows[1]->findChild<QQuickItem *>(u"discoveredBridgeDetail"_s))
                    .contains(u"No fingerprint announced"_s));
    expectNoTokenOnScreen();

    const QString dir =
        qEnvironmentVariable("RIRUDEZ_SCREENSHOT_DIR", QDir::currentPath() + u"/screenshots"_s);
    QDir().mkpath(dir);
    EXPECT_TRUE(screen->grab(dir + u"/bridges-sheet.png"_s));

    // Closing the sheet stops browsing and empties the list.
    QTest::keyClick(screen->window(), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return !sheetOpen(); }));
    EXPECT_TRUE(bridges->discoveredBridges().isEmpty());
}

TEST_F(BridgesSheetTest, WholeTurnThroughThePairedBridge) {
    DesktopCodingHarnessViewModel *vm = rootView->codingViewModel();
    // First the local bridge, as always.
    ASSERT_TRUE(waitUntil([&] { return local->counters().authenticatedSockets >= 1; }, 10s))
        << vm->bridgeRefreshError().value_or(u"no error"_s).toStdString();

    ASSERT_EQ(testing::runTask(bridges->pairWithLink(remote->pairing().url(u"doduzadod"_s))), true);
    // The view model reconnects to the paired bridge and loads its projects.
    ASSERT_TRUE(waitUntil([&] { return remote->counters().authenticatedSockets >= 1; }, 10s))
        << vm->bridgeRefreshError().value_or(u"no error"_s).toStdString();
    ASSERT_TRUE(waitUntil([&] { return vm->selectedProjectID() == remote->demoProjectID(); }, 10s));
    const auto localFrames = local->counters().framesReceived;

    vm->setPromptText(u"hello over there"_s);
    vm->requestSendPrompt();
    ASSERT_TRUE(waitUntil([&] { return vm->isSending(); }));
    ASSERT_TRUE(waitUntil([&] { return !vm->isSending(); }, 15s));
    bool answered = false;
    for (const DesktopCodingEvent &event : vm->visibleSession().events) {
        answered |= event.kind == DesktopCodingEventKind::assistantText;
        EXPECT_NE(event.kind, DesktopCodingEventKind::failed) << event.summary.toStdString();
    }
    EXPECT_TRUE(answered);
    EXPECT_EQ(local->counters().framesReceived, localFrames); // nothing went to this computer's bridge

    const std::optional<QString> remoteSession = vm->selectedThread()->bridgeSessionID;
    ASSERT_TRUE(remoteSession);

    // Back to this computer: the paired bridge's threads leave the screen at once, and the view model
    // reconnects here.
    bridges->choose(QString());
    for (const DesktopCodingThread &thread : vm->threads())
        EXPECT_NE(thread.bridgeSessionID, remoteSession);
    EXPECT_EQ(vm->threads().size(), 1);
    ASSERT_TRUE(waitUntil([&] { return local->counters().authenticatedSockets >= 2; }, 10s));
    ASSERT_TRUE(waitUntil([&] { return vm->selectedProjectID() == local->demoProjectID(); }, 10s));
    for (const DesktopCodingThread &thread : vm->threads())
        EXPECT_NE(thread.bridgeSessionID, remoteSession);
}

} // namespace
} // namespace rirudez
