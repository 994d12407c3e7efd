// Renders the conversation screen's main states offscreen and writes them as PNG files under the build tree
// (RIRUDEZ_SCREENSHOT_DIR): empty, a finished conversation, an approval waiting, a picker open, and both
// rails collapsed. Each image is checked for the fixed palette at the places the columns occupy.

#include "QuickTestSupport.h"

#include "DesktopCodingHarnessViewModel.h"
#include "RootView.h"

#include "support/InProcessBridge.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace rirudez {
namespace {

using testing::InProcessBridge;
using testing::ScreenHarness;
using testing::waitUntil;

QString screenshotDirectory() {
    QString dir = qEnvironmentVariable("RIRUDEZ_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = QDir::currentPath() + u"/screenshots"_s;
    QDir().mkpath(dir);
    return dir;
}

// Colour distance small enough to call two pixels the same palette colour.
bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= 6;
}

TEST(ScreenshotTest, MainStatesAreWrittenAsPngsInTheLightPalette) {
    InProcessBridge bridge;
    ASSERT_TRUE(bridge.isRunning());
    const QString state = bridge.stateDirectory();
    const int port = bridge.port();
    auto rootView =
        std::make_unique<RootView>(testing::localBridgeViewModel(state, port), testing::testPollInterval);
    constexpr int width = 1440;
    constexpr int height = 900;
    auto screenHarness = std::make_unique<ScreenHarness>(*rootView, width, height);
    ScreenHarness &screen = *screenHarness;
    ASSERT_NE(screen.window(), nullptr);
    DesktopCodingHarnessViewModel *vm = rootView->codingViewModel();
    ASSERT_TRUE(waitUntil([&] { return vm->selectedProjectID() == bridge.demoProjectID(); }, 10s));
    // One refresh is enough for the pictures; no later poll moves the selection.
    vm->stopBridgeSessionDiscoveryLoop();

    const QString dir = screenshotDirectory();
    auto shoot = [&](const QString &name) {
        const QString path = dir + u'/' + name + u".png"_s;
        EXPECT_TRUE(screen.grab(path)) << path.toStdString();
        QImage image(path);
        EXPECT_EQ(image.size(), QSize(width, height) * screen.window()->devicePixelRatio());
        return image;
    };
    const double railWidth = std::clamp(0.22 * width, 240.0, 320.0);
    const double inspectorWidth = std::clamp(0.28 * width, 300.0, 390.0);
    const QColor rail = QColor::fromRgbF(0.27f, 0.28f, 0.27f);
    const QColor inspector = QColor::fromRgbF(0.88f, 0.91f, 0.89f);
    const QColor centre = QColor::fromRgbF(0.99f, 0.99f, 0.97f);

    QImage empty = shoot(u"01-empty"_s);
    // Dark rail on the left, light centre and inspector (the light scheme, whatever the platform's).
    EXPECT_TRUE(near(empty.pixelColor(int(railWidth) / 2, height - 140), rail));
    EXPECT_TRUE(near(empty.pixelColor(width - int(inspectorWidth) / 2, height - 8), inspector));
    EXPECT_TRUE(near(empty.pixelColor(int(railWidth) + 30, 120), centre));

    vm->setPromptText(u"Explain how this project is **organised** and write a notes file"_s);
    vm->requestSendPrompt();
    ASSERT_TRUE(waitUntil([&] { return !vm->isSending(); }, 15s));
    // A growing answer is shown at most every 50 ms, and the stream scrolls after it: wait for both.
    const auto settledOn = [&](const QString &words) {
        return waitUntil([&] {
            bool shown = false;
            for (QQuickItem *item : screen.findAll(u"eventSummary"_s))
                shown = shown || testing::text(item).contains(words);
            return shown && !screen.find(u"conversationStream"_s)->property("autoScrolling").toBool();
        });
    };
    ASSERT_TRUE(settledOn(u"(Demo agent:"_s));
    shoot(u"02-conversation"_s);

    vm->setPromptText(u"Clean up and delete the build folder"_s);
    vm->requestSendPrompt();
    ASSERT_TRUE(waitUntil([&] { return !vm->pendingApprovals().isEmpty(); }, 15s));
    ASSERT_TRUE(waitUntil([&] {
        return screen.isOnScreen(u"approveButton"_s) &&
               !screen.find(u"conversationStream"_s)->property("autoScrolling").toBool();
    }));
    shoot(u"03-approval"_s);
    ASSERT_TRUE(screen.click(u"approveButton"_s));
    ASSERT_TRUE(waitUntil([&] { return !vm->isSending(); }, 15s));
    ASSERT_TRUE(settledOn(u"Approved: I ran"_s));

    ASSERT_TRUE(screen.click(u"modelButton"_s));
    shoot(u"04-model-picker"_s);
    ASSERT_TRUE(screen.click(u"modelButton"_s));

    ASSERT_TRUE(screen.click(u"toggleProjectRailButton"_s));
    ASSERT_TRUE(screen.click(u"toggleInspectorButton"_s));
    QImage collapsed = shoot(u"05-rails-collapsed"_s);
    EXPECT_TRUE(near(collapsed.pixelColor(26, height - 20), rail));
    EXPECT_TRUE(near(collapsed.pixelColor(width - 26, height - 20), inspector));
    EXPECT_TRUE(near(collapsed.pixelColor(62, height / 2), centre));

    screenHarness.reset();
    testing::destroyRootView(rootView);
}

} // namespace
} // namespace rirudez
