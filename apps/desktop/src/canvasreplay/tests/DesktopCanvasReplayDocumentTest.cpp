// The document the canvas views draw from: a conversation laid out a slice at a time ends with the pages of a
// layout done at once, shows its first pages complete before the rest, grows its page list without resetting
// it, lays a changed conversation out again from the first changed message; and the page images it keeps stay
// within their byte limit, with another conversation's first pages in view drawn at once.

#include "DesktopCanvasReplayDocument.h"
#include "DesktopCanvasReplayBridge.h"
#include "DesktopCanvasReplayPageImages.h"

#include <QAbstractItemModelTester>
#include <QGuiApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

namespace CHR = ConversationHandwritingReplay;

void ensureApplication() {
    static int argc = 1;
    static char name[] = "DesktopCanvasReplayDocumentTest";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QGuiApplication(argc, argv);
}

// `turns` messages of one to twelve sentences, alternating user and agent.
CHR::ReplayInput conversation(int turns, std::int64_t pages = 500, const QString &prefix = u"t"_s) {
    CHR::ReplayInput input;
    input.pageSize = {820, 1060};
    input.maxPageCount = pages;
    for (int i = 0; i < turns; ++i)
        input.messages.push_back(CHR::InputMessage{
            prefix + QString::number(i), i % 2 ? CHR::MessageRole::assistant : CHR::MessageRole::user,
            QString(u"The build fails on the second step. "_s).repeated(1 + (i * 7) % 12), std::nullopt,
            std::nullopt, std::nullopt, std::nullopt, false, std::nullopt});
    return input;
}

// The same pages, stroke for stroke, as a document given the finished result at once.
void expectSamePages(const DesktopCanvasReplayDocument &document, const DesktopCanvasReplayResult &expected) {
    DesktopCanvasReplayDocument whole;
    whole.setResult(expected);
    ASSERT_EQ(document.pageCount(), whole.pageCount());
    ASSERT_EQ(document.rowCount(), whole.pageCount());
    for (int page = 0; page < whole.pageCount(); ++page) {
        SCOPED_TRACE(page);
        EXPECT_EQ(document.pageSignature(page), whole.pageSignature(page));
        ASSERT_EQ(document.strokesOnPage(page).size(), whole.strokesOnPage(page).size());
        for (std::size_t s = 0; s < whole.strokesOnPage(page).size(); ++s) {
            EXPECT_EQ(document.strokesOnPage(page)[s].stroke, whole.strokesOnPage(page)[s].stroke);
            EXPECT_EQ(document.strokesOnPage(page)[s].role, whole.strokesOnPage(page)[s].role);
        }
    }
}

bool waitForLayout(DesktopCanvasReplayDocument &document) {
    return QTest::qWaitFor([&] { return !document.layingOut(); }, 60000);
}

struct LayoutCase {
    const char *name;
    int turns;
    std::int64_t pages;
};

class IncrementalLayout : public ::testing::TestWithParam<LayoutCase> {
protected:
    void SetUp() override { ensureApplication(); }
};

TEST_P(IncrementalLayout, EndsWithTheWholeLayoutAndShowsTheFirstPagesComplete) {
    const CHR::ReplayInput input = conversation(GetParam().turns, GetParam().pages);
    const DesktopCanvasReplayResult expected = DesktopCanvasReplayBridge::desktopResult(input);
    DesktopCanvasReplayDocument document;
    QAbstractItemModelTester tester(&document, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&document, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&document, &QAbstractItemModel::rowsInserted);

    document.layOut(input);
    EXPECT_EQ(resets.count(), 1);
    // The first pages are written before anything shows, and their ink does not change afterwards.
    const int early =
        int(std::min<std::int64_t>(DesktopCanvasReplayDocument::eagerPageCount, expected.pageCount));
    ASSERT_GE(document.pageCount(), early);
    std::vector<quint64> earlySignatures;
    for (int page = 0; page < early; ++page)
        earlySignatures.push_back(document.pageSignature(page));

    ASSERT_TRUE(waitForLayout(document));
    EXPECT_EQ(document.result(), expected);
    EXPECT_EQ(document.layoutProgress(), 1.0);
    expectSamePages(document, expected);
    for (int page = 0; page < early; ++page)
        EXPECT_EQ(document.pageSignature(page), earlySignatures[std::size_t(page)]);
    EXPECT_EQ(resets.count(), 1); // the rest came as inserted pages
}

INSTANTIATE_TEST_SUITE_P(Conversations, IncrementalLayout,
                         ::testing::Values(LayoutCase{"short", 3, 500}, LayoutCase{"long", 400, 500},
                                           LayoutCase{"cutShort", 400, 40}, LayoutCase{"empty", 0, 500}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(CanvasDocumentRelayout, AChangedEndIsLaidOutAgainWithoutResettingThePages) {
    ensureApplication();
    CHR::ReplayInput input = conversation(300);
    DesktopCanvasReplayDocument document;
    QAbstractItemModelTester tester(&document, QAbstractItemModelTester::FailureReportingMode::Fatal);
    document.layOut(input);
    ASSERT_TRUE(waitForLayout(document));
    const int pagesBefore = document.pageCount();
    const std::vector<quint64> before = [&] {
        std::vector<quint64> signatures;
        for (int page = 0; page < pagesBefore; ++page)
            signatures.push_back(document.pageSignature(page));
        return signatures;
    }();
    QSignalSpy resets(&document, &QAbstractItemModel::modelReset);
    QSignalSpy ink(&document, &DesktopCanvasReplayDocument::pageInkChanged);

    // The last answer grows and a new prompt follows (a turn streaming in).
    input.messages.back().text += u"And one more sentence about the cache directory."_s.repeated(30);
    input.messages.push_back(conversation(1, 500, u"new"_s).messages.front());
    document.layOut(input);
    ASSERT_TRUE(waitForLayout(document));
    EXPECT_EQ(document.result(), DesktopCanvasReplayBridge::desktopResult(input));
    expectSamePages(document, DesktopCanvasReplayBridge::desktopResult(input));
    EXPECT_EQ(resets.count(), 0);
    // Only the pages from the changed answer on were touched.
    const std::int64_t changedFrom =
        document.result().blocks[document.result().blocks.size() - 2].startPageIndex;
    for (int page = 0; page < changedFrom; ++page)
        EXPECT_EQ(document.pageSignature(page), before[std::size_t(page)]) << page;
    for (const QList<QVariant> &arguments : ink)
        EXPECT_GE(arguments.at(0).toInt(), changedFrom);

    // The answer is cut back (the conversation shrinks): the page list shrinks once the layout is done.
    input.messages.resize(10);
    document.layOut(input);
    ASSERT_TRUE(waitForLayout(document));
    EXPECT_EQ(document.result(), DesktopCanvasReplayBridge::desktopResult(input));
    EXPECT_EQ(resets.count(), 0);

    // Another conversation starts from the top.
    document.layOut(conversation(20, 500, u"other"_s));
    EXPECT_EQ(resets.count(), 1);
    ASSERT_TRUE(waitForLayout(document));
    EXPECT_EQ(document.result(), DesktopCanvasReplayBridge::desktopResult(conversation(20, 500, u"other"_s)));
}

TEST(CanvasPageImages, KeepsTheMostRecentlyUsedWithinTheByteLimit) {
    ensureApplication();
    DesktopCanvasReplayPageImages images;
    const QSize pixels(100, 130);
    const qsizetype imageBytes = QImage(pixels, QImage::Format_ARGB32_Premultiplied).sizeInBytes();
    images.setByteLimit(3 * imageBytes);
    std::vector<int> ready; // pages, as their images come
    QObject::connect(
        &images, &DesktopCanvasReplayPageImages::imageReady,
        [&](const DesktopCanvasReplayPageImages::Key &done, const QImage &) { ready.push_back(done.page); });
    auto key = [&](int page) { return DesktopCanvasReplayPageImages::Key{page, quint64(page) + 1, pixels}; };
    auto fill = [](QColor colour) {
        return [colour](QPainter &painter) { painter.fillRect(0, 0, 100, 130, colour); };
    };

    for (int page = 0; page < 8; ++page) {
        images.request(key(page), fill(QColor::fromHsv(page * 40, 200, 200)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return ready.size() == std::size_t(page + 1); }, 10000));
        EXPECT_LE(images.byteCount(), images.byteLimit());
    }
    EXPECT_EQ(images.imageCount(), 3);
    for (int page = 0; page < 5; ++page)
        EXPECT_TRUE(images.find(key(page)).isNull()) << page;
    const QImage kept = images.find(key(7));
    ASSERT_FALSE(kept.isNull());
    EXPECT_EQ(kept.size(), pixels);
    EXPECT_EQ(kept.pixelColor(50, 60).rgb(), QColor::fromHsv(7 * 40, 200, 200).rgb());

    // Using an image keeps it: page 5 was used last, so page 6 goes first.
    EXPECT_FALSE(images.find(key(5)).isNull());
    images.request(key(8), fill(Qt::black));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready.size() == 9; }, 10000));
    EXPECT_FALSE(images.find(key(5)).isNull());
    EXPECT_TRUE(images.find(key(6)).isNull());

    // A finished image is not drawn again; an ask that has not started can be dropped.
    images.request(key(8), fill(Qt::white));
    images.request(key(20), fill(Qt::white)); // starts at once
    images.request(key(21), fill(Qt::white)); // waits
    images.request(key(22), fill(Qt::white)); // waits behind 21
    images.cancel(key(21));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready.size() == 11; }, 10000));
    EXPECT_EQ(std::vector<int>(ready.end() - 2, ready.end()), (std::vector<int>{20, 22}));
    EXPECT_TRUE(images.find(key(21)).isNull());
}

// Page images of one conversation (id 7, 40 x 52 pixels), the pages in the order their images came.
class CanvasFirstPages : public ::testing::Test {
protected:
    CanvasFirstPages() {
        ensureApplication();
        QObject::connect(&images, &DesktopCanvasReplayPageImages::imageReady,
                         [this](const DesktopCanvasReplayPageImages::Key &done, const QImage &) {
                             ready.push_back(done.page);
                         });
    }
    static DesktopCanvasReplayPageImages::Key key(int page) { return {page, 7, QSize(40, 52)}; }
    static void fill(QPainter &painter) { painter.fillRect(0, 0, 40, 52, Qt::darkBlue); }

    DesktopCanvasReplayPageImages images;
    std::vector<int> ready;
};

// A conversation's first pages wait for their items: one in view is drawn on the calling thread before
// `settle` returns, one out of view goes to the worker then; the worker waits until none is held. Each first
// page is held once, and another conversation holds them again.
TEST_F(CanvasFirstPages, DrawsTheFirstPagesInViewAtOnceAndTheRestOffTheUiThread) {
    images.drawFirstPagesAtOnce(2);
    EXPECT_TRUE(images.isHeld(0));
    EXPECT_TRUE(images.isHeld(1));
    EXPECT_FALSE(images.isHeld(2));
    images.request(key(0), fill);
    images.request(key(1), fill);
    images.request(key(2), fill); // not held, but the worker waits while held pages wait for their items
    images.settle(key(0), true);
    EXPECT_EQ(ready, (std::vector<int>{0})); // drawn before settle returned
    EXPECT_EQ(images.find(key(0)).pixelColor(20, 26), QColor(Qt::darkBlue));
    EXPECT_FALSE(images.isHeld(0));
    images.settle(key(1), false); // out of view: drawn off the UI thread, in the order asked
    EXPECT_EQ(ready.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready.size() == 3; }, 10000));
    EXPECT_EQ(ready, (std::vector<int>{0, 1, 2}));

    // Held once: asked again (another size), page 0 goes to the worker.
    const DesktopCanvasReplayPageImages::Key larger{0, 7, QSize(80, 104)};
    images.request(larger, fill);
    images.settle(larger, true);
    EXPECT_EQ(ready.size(), 3u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready.size() == 4; }, 10000));

    // Another conversation holds its first pages again.
    images.drawFirstPagesAtOnce(1);
    const DesktopCanvasReplayPageImages::Key other{0, 9, QSize(40, 52)};
    images.request(other, fill);
    images.settle(other, true);
    EXPECT_EQ(ready.size(), 5u);
}

// A held page whose item goes away before settling it does not leave the pages asked after it undrawn.
TEST_F(CanvasFirstPages, AHeldPageGivenUpReleasesTheWorker) {
    images.drawFirstPagesAtOnce(1);
    images.request(key(0), fill);
    images.request(key(2), fill);
    images.cancel(key(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ready.empty(); }, 10000));
    EXPECT_EQ(ready, (std::vector<int>{2}));
}

// Laying out another conversation holds the pages its views show first; growing the same one does not.
TEST(CanvasDocumentRelayout, AnotherConversationHoldsItsFirstPages) {
    ensureApplication();
    DesktopCanvasReplayDocument document;
    document.layOut(conversation(40));
    for (int page = 0; page < DesktopCanvasReplayDocument::firstPagesDrawnAtOnce; ++page)
        EXPECT_TRUE(document.pageImages().isHeld(page)) << page;
    EXPECT_FALSE(document.pageImages().isHeld(DesktopCanvasReplayDocument::firstPagesDrawnAtOnce));
    document.pageImages().drawFirstPagesAtOnce(0);
    document.layOut(conversation(41));
    EXPECT_FALSE(document.pageImages().isHeld(0));
    document.layOut(conversation(20, 500, u"other"_s));
    EXPECT_TRUE(document.pageImages().isHeld(0));
}

} // namespace
} // namespace rirudez
