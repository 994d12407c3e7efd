// Draws the fixtures and real layouts offscreen and checks where the ink lands: every pixel in a role's ink
// lies on a stroke of that role, every stroke leaves ink, and no ink falls into a page's top margin or its
// protected bottom band.

#include "DesktopCanvasReplayRenderer.h"
#include "DesktopCanvasReplayBridge.h"
#include "DesktopCanvasReplayDocument.h"
#include "DesktopCanvasReplayFixtures.h"
#include "DesktopCanvasReplayInkGeometry.h"

#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

namespace CHR = ConversationHandwritingReplay;

// Whether a pixel is (mostly) the given ink: antialiased edges blend with the paper and are not counted.
bool isInk(QColor pixel, QColor ink) {
    return std::abs(pixel.red() - ink.red()) + std::abs(pixel.green() - ink.green()) +
               std::abs(pixel.blue() - ink.blue()) <=
           60;
}

// The area the strokes of one role cover, drawn a little wider than the ink.
QImage coverage(const DesktopCanvasReplayResult &result, DesktopCanvasReplayRole role, double scale) {
    QImage mask(QSize(int(result.pageSize.width() * scale), int(result.totalCanvasHeight() * scale)),
                QImage::Format_Grayscale8);
    mask.fill(0);
    QPainter painter(&mask);
    painter.scale(scale, scale);
    for (const DesktopCanvasReplayBlock &block : result.blocks) {
        if (block.role != role)
            continue;
        for (const DesktopCanvasReplayStroke &stroke : block.strokes) {
            painter.setPen(
                QPen(Qt::white, stroke.width + 3.0 / scale, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPolyline(stroke.points.constData(), int(stroke.points.size()));
        }
    }
    return mask;
}

struct Drawn {
    QImage image;
    double scale;
};

using Draw = std::function<Drawn(const DesktopCanvasReplayResult &)>;

// The whole stack through draw(_:into:).
Drawn drawWhole(const DesktopCanvasReplayResult &result) {
    const double scale = 1.0;
    QImage image(QSize(int(result.pageSize.width()), int(result.totalCanvasHeight())), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    DesktopCanvasReplayRenderer::draw(result, painter);
    return {image, scale};
}

// Page by page through the document, at a screen scale, as the page items draw them.
Drawn drawPages(const DesktopCanvasReplayResult &result) {
    const double scale = 0.75;
    DesktopCanvasReplayDocument document;
    document.setResult(result);
    const int pageHeight = int(result.pageSize.height() * scale);
    QImage image(QSize(int(result.pageSize.width() * scale), pageHeight * document.pageCount()),
                 QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (int page = 0; page < document.pageCount(); ++page) {
        painter.save();
        painter.translate(0, page * pageHeight);
        painter.scale(scale, scale);
        document.paintPage(painter, page);
        painter.restore();
    }
    return {image, scale};
}

DesktopCanvasReplayResult layout(int turns) {
    CHR::ReplayInput input;
    input.pageSize = {820, 1060};
    input.maxPageCount = 3;
    for (int n = 0; n < turns; ++n)
        input.messages.push_back(
            CHR::InputMessage{QString::number(n),
                              n % 2 ? CHR::MessageRole::assistant : CHR::MessageRole::user,
                              QString(20 + 37 * (n % 5), u'w'),
                              {},
                              {},
                              {},
                              {},
                              false,
                              {}});
    return DesktopCanvasReplayBridge::desktopResult(input);
}

struct RenderCase {
    const char *name;
    std::function<DesktopCanvasReplayResult()> result;
    Draw draw;
};

class InkPlacement : public ::testing::TestWithParam<RenderCase> {};

TEST_P(InkPlacement, InkFallsOnItsRolesStrokesAndNeverInTheProtectedBands) {
    const DesktopCanvasReplayResult result = GetParam().result();
    ASSERT_FALSE(result.isEmpty());
    const Drawn drawn = GetParam().draw(result);
    const double scale = drawn.scale;
    const QImage &image = drawn.image;
    const double pageHeight = result.pageSize.height();
    const double topMargin = pageHeight * 0.092;
    const double bandTop = pageHeight - pageHeight * 0.07;

    for (DesktopCanvasReplayRole role : {DesktopCanvasReplayRole::user, DesktopCanvasReplayRole::assistant}) {
        const QImage mask = coverage(result, role, scale);
        const QColor ink = inkColor(role);
        qsizetype inkPixels = 0;
        qsizetype stray = 0;
        qsizetype inBands = 0;
        for (int y = 0; y < image.height(); ++y) {
            const double canvasY = y / scale;
            const double pageY = std::fmod(canvasY, pageHeight);
            const bool inBand = pageY < topMargin || pageY >= bandTop;
            for (int x = 0; x < image.width(); ++x) {
                if (!isInk(image.pixelColor(x, y), ink))
                    continue;
                ++inkPixels;
                if (qGray(mask.pixel(x, y)) == 0)
                    ++stray;
                if (inBand)
                    ++inBands;
            }
        }
        EXPECT_EQ(stray, 0) << "ink of " << displayLabel(role).toStdString() << " off its strokes";
        EXPECT_EQ(inBands, 0) << "ink of " << displayLabel(role).toStdString() << " in a protected band";
        // Every stroke of the role leaves ink at its middle point.
        qsizetype strokes = 0;
        for (const DesktopCanvasReplayBlock &block : result.blocks) {
            if (block.role != role)
                continue;
            for (const DesktopCanvasReplayStroke &stroke : block.strokes) {
                ++strokes;
                const QPointF middle = stroke.points[stroke.points.size() / 2] * scale;
                bool found = false;
                for (int dy = -2; dy <= 2 && !found; ++dy)
                    for (int dx = -2; dx <= 2 && !found; ++dx)
                        found = isInk(image.pixelColor(int(middle.x()) + dx, int(middle.y()) + dy), ink);
                EXPECT_TRUE(found) << "no ink at a stroke of " << block.id.toStdString();
            }
        }
        EXPECT_EQ(inkPixels > 0, strokes > 0);
    }
    // The paper shows around the writing: the page's top-left corner is paper.
    EXPECT_EQ(image.pixelColor(2, 2), DesktopCanvasReplayRenderer::paperColor);
}

INSTANTIATE_TEST_SUITE_P(
    Results, InkPlacement,
    ::testing::Values(
        RenderCase{"singleUserBlock", &DesktopCanvasReplayFixtures::singleUserBlock, &drawWhole},
        RenderCase{"twoPageMixed", &DesktopCanvasReplayFixtures::twoPageMixed, &drawWhole},
        RenderCase{"truncated", &DesktopCanvasReplayFixtures::truncated, &drawWhole},
        RenderCase{"twoPageMixedByPage", &DesktopCanvasReplayFixtures::twoPageMixed, &drawPages},
        RenderCase{"layoutByPage", [] { return layout(40); }, &drawPages},
        RenderCase{"layoutWhole", [] { return layout(40); }, &drawWhole}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(Renderer, StrokePathFollowsTheStrokeAndRefusesUndrawableOnes) {
    const DesktopCanvasReplayStroke stroke =
        DesktopCanvasReplayFixtures::straightLineStroke(78, 400, 120, 4.5);
    const std::optional<QPainterPath> path = DesktopCanvasReplayRenderer::strokePath(stroke);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->elementCount(), 2);
    EXPECT_EQ(path->boundingRect(), QRectF(78, 120, 322, 0));
    EXPECT_FALSE(DesktopCanvasReplayRenderer::strokePath(DesktopCanvasReplayStroke{{QPointF(1, 1)}, 4}));
    EXPECT_FALSE(DesktopCanvasReplayRenderer::strokePath(
        DesktopCanvasReplayFixtures::straightLineStroke(78, 400, 120, 0)));
}

// The stroke geometry of the scene graph: a band of the stroke's width (item units) around its line, opaque
// inside, fading to nothing over the fringe, half a width past each end, on the page it belongs to.
struct BandCase {
    const char *name;
    double width;      // canvas units
    double scale;      // item units per canvas unit
    double fringe;     // item units
    int pageIndex;     // the stroke is 100 canvas units below this page's top
    int expectedAlpha; // of the inner vertices
};

class InkGeometry : public ::testing::TestWithParam<BandCase> {};

TEST_P(InkGeometry, BandAroundTheStroke) {
    const BandCase &c = GetParam();
    const double top = 1060.0 * c.pageIndex + 100;
    const std::vector<DesktopCanvasReplayPageStroke> strokes = {
        {DesktopCanvasReplayRole::assistant,
         DesktopCanvasReplayFixtures::straightLineStroke(80, 480, top, c.width), 0}};
    DesktopCanvasReplayInkGeometry::Mesh mesh;
    DesktopCanvasReplayInkGeometry::appendPage(mesh, strokes, c.pageIndex, 1060, c.scale, c.fringe);
    ASSERT_EQ(mesh.vertices.size(), 8u); // two points, four vertices across each
    ASSERT_EQ(mesh.indices.size(), 18u); // three quads
    const double half = c.width * c.scale / 2;
    const double centre = 100 * c.scale;
    const QColor ink = inkColor(DesktopCanvasReplayRole::assistant);
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        SCOPED_TRACE(i);
        const auto &v = mesh.vertices[i];
        const bool outer = i % 4 == 0 || i % 4 == 3;
        const double offset = outer ? half + c.fringe / 2 : std::max(half - c.fringe / 2, 0.0);
        EXPECT_NEAR(std::abs(v.y - centre), offset, 1e-3);
        EXPECT_NEAR(v.x, i < 4 ? 80 * c.scale - half : 480 * c.scale + half, 1e-3);
        EXPECT_EQ(v.a, outer ? 0 : c.expectedAlpha);
        EXPECT_NEAR(v.g, ink.green() * v.a / 255.0, 1.0); // premultiplied
    }
    for (const quint32 index : mesh.indices)
        EXPECT_LT(index, mesh.vertices.size());
}

INSTANTIATE_TEST_SUITE_P(Strokes, InkGeometry,
                         ::testing::Values(BandCase{"fullSize", 4.6, 1.0, 1.0, 0, 255},
                                           BandCase{"scaledOnPageTwo", 4.4, 0.5, 1.0, 2, 255},
                                           BandCase{"thinnerThanTheFringe", 1.0, 0.3, 1.0, 0, 77}),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
} // namespace rirudez
