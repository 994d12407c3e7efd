// The canvas page item in an offscreen window (the software scene graph, so it shows page images): it shows
// its own page of the document at its own size (the same pixels as the renderer drawing that page into an
// image), bare paper until that image is ready, and draws again only when its size or the ink of its own page
// changes.

#include "DesktopCanvasReplayPageItem.h"
#include "DesktopCanvasReplayDocument.h"
#include "DesktopCanvasReplayFixtures.h"
#include "DesktopCanvasReplayRole.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

// Half the page size: 410 × 530.
constexpr double scale = 0.5;

class PageItemTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "DesktopCanvasReplayPageItemTest";
        static char *argv[] = {name, nullptr};
        if (!QGuiApplication::instance())
            application = new QGuiApplication(argc, argv);
    }

    void SetUp() override {
        document.setResult(DesktopCanvasReplayFixtures::twoPageMixed());
        window = std::make_unique<QQuickWindow>();
        window->resize(900, 600);
        for (int page = 0; page < 2; ++page) {
            auto *item = new DesktopCanvasReplayPageItem(window->contentItem());
            item->setDocument(&document);
            item->setPageIndex(page);
            item->setPosition(QPointF(20 + page * 450, 20));
            item->setSize(QSizeF(document.pageWidth() * scale, document.pageHeight() * scale));
            pages[page] = item;
        }
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_EQ(pages[0]->effectiveDrawing(), DesktopCanvasReplayPageItem::Drawing::PageImage);
        ASSERT_TRUE(waitForPaints(1, 1));
    }

    // Waits until each item has received that many images of its page.
    bool waitForPaints(int first, int second) const {
        return QTest::qWaitFor(
            [&] { return pages[0]->paintCount() >= first && pages[1]->paintCount() >= second; }, 10000);
    }

    QImage frame() const { return window->grabWindow(); }
    // What the item covers in a frame.
    QImage itemPixels(const QImage &image, const DesktopCanvasReplayPageItem *item) const {
        const double ratio = window->devicePixelRatio();
        return image.copy(QRectF(item->position() * ratio, item->size() * ratio).toRect());
    }
    // The page drawn straight by the document at the item's size.
    QImage reference(int page) const {
        const QSize size =
            (QSizeF(document.pageWidth(), document.pageHeight()) * scale * window->devicePixelRatio())
                .toSize();
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(double(size.width()) / document.pageWidth(),
                      double(size.height()) / document.pageHeight());
        document.paintPage(painter, page);
        return image;
    }
    static int inkPixels(const QImage &image, DesktopCanvasReplayRole role) {
        const QColor ink = inkColor(role);
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                count += std::abs(pixel.red() - ink.red()) + std::abs(pixel.green() - ink.green()) +
                                     std::abs(pixel.blue() - ink.blue()) <=
                                 30
                             ? 1
                             : 0;
            }
        return count;
    }
    // The share of pixels whose channels differ by more than a few levels.
    static double differingShare(const QImage &a, const QImage &b) {
        if (a.size() != b.size())
            return 1;
        int differing = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const QColor p = a.pixelColor(x, y);
                const QColor q = b.pixelColor(x, y);
                differing += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                                         std::abs(p.blue() - q.blue()) >
                                     24
                                 ? 1
                                 : 0;
            }
        return double(differing) / double(a.width() * a.height());
    }

    static inline QGuiApplication *application = nullptr;
    DesktopCanvasReplayDocument document;
    std::unique_ptr<QQuickWindow> window;
    DesktopCanvasReplayPageItem *pages[2] = {nullptr, nullptr};
};

TEST_F(PageItemTest, EachItemShowsItsOwnPageAsTheRendererDrawsIt) {
    const QImage image = frame();
    for (int page = 0; page < 2; ++page) {
        SCOPED_TRACE(page);
        const QImage shown = itemPixels(image, pages[page]);
        EXPECT_LT(differingShare(shown, reference(page)), 0.01);
    }
    // Page 0 has the user block and the start of the agent's; page 1 only the agent's.
    const QImage first = itemPixels(image, pages[0]);
    const QImage second = itemPixels(image, pages[1]);
    EXPECT_GT(inkPixels(first, DesktopCanvasReplayRole::user), 100);
    EXPECT_GT(inkPixels(first, DesktopCanvasReplayRole::assistant), 100);
    EXPECT_EQ(inkPixels(second, DesktopCanvasReplayRole::user), 0);
    EXPECT_GT(inkPixels(second, DesktopCanvasReplayRole::assistant), 100);
}

TEST_F(PageItemTest, DrawsAgainOnlyWhenItsSizeOrItsOwnInkChanges) {
    frame();
    ASSERT_EQ(pages[0]->paintCount(), 1);
    ASSERT_EQ(pages[1]->paintCount(), 1);

    // Nothing changed: the cached images are shown again.
    frame();
    EXPECT_EQ(pages[0]->paintCount(), 1);
    EXPECT_EQ(pages[1]->paintCount(), 1);

    // A new stroke on page 1 only: page 1 draws again, page 0 does not.
    DesktopCanvasReplayResult grown = DesktopCanvasReplayFixtures::twoPageMixed();
    grown.blocks.last().strokes.append(
        DesktopCanvasReplayFixtures::straightLineStroke(80, 500, 1060 + 600, 4.5));
    document.setResult(grown);
    ASSERT_TRUE(waitForPaints(1, 2));
    const QImage image = frame();
    EXPECT_EQ(pages[0]->paintCount(), 1);
    EXPECT_EQ(pages[1]->paintCount(), 2);
    EXPECT_LT(differingShare(itemPixels(image, pages[1]), reference(1)), 0.01);

    // A new size draws again at that size.
    pages[0]->setSize(pages[0]->size() * 0.8);
    ASSERT_TRUE(waitForPaints(2, 2));
    frame();
    EXPECT_EQ(pages[0]->paintCount(), 2);

    // Another page index is another page: bare paper until its image comes, then that page.
    pages[0]->setPageIndex(1);
    EXPECT_FALSE(pages[0]->isDrawn());
    ASSERT_TRUE(waitForPaints(3, 2));
    EXPECT_TRUE(pages[0]->isDrawn());
    EXPECT_EQ(inkPixels(itemPixels(frame(), pages[0]), DesktopCanvasReplayRole::user), 0);
}

} // namespace
} // namespace rirudez
