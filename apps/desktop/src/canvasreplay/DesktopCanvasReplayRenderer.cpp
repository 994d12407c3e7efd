#include "DesktopCanvasReplayRenderer.h"

#include "rirudez/canvasreplay/CanvasPageMargins.h"
#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <QPainter>

namespace rirudez::DesktopCanvasReplayRenderer {

void draw(const DesktopCanvasReplayResult &result, QPainter &painter) {
    drawPages(result, painter);
    drawBlocks(result, painter);
}

void drawPages(const DesktopCanvasReplayResult &result, QPainter &painter) {
    for (std::int64_t page = 0; page < result.pageCount; ++page) {
        painter.save();
        painter.translate(0, double(page) * result.pageSize.height());
        drawPaper(result.pageSize, painter);
        painter.restore();
    }
}

void drawBlocks(const DesktopCanvasReplayResult &result, QPainter &painter) {
    for (const DesktopCanvasReplayBlock &block : result.blocks)
        for (const DesktopCanvasReplayStroke &stroke : block.strokes)
            drawStroke(stroke, block.role, painter);
}

PaperLines paperLines(QSizeF pageSize) {
    PaperLines lines;
    ConversationHandwritingReplay::ReplayInput probe;
    probe.pageSize = {pageSize.width(), pageSize.height()};
    probe.maxPageCount = 1;
    const std::optional<ConversationHandwritingReplay::ReplayLayoutMetrics> metrics =
        ConversationHandwritingReplay::layoutMetrics(probe);
    if (!metrics)
        return lines;
    lines.hasLines = true;
    const double bandTop = pageSize.height() - metrics->safeBottomPadding;
    for (double y = metrics->topMargin + metrics->rowHeight; y <= bandTop; y += metrics->rowHeight)
        lines.ruleYs.push_back(y);
    lines.marginX = CanvasPageMargins::leftInset(pageSize.width()) - 12;
    return lines;
}

void drawPaper(QSizeF pageSize, QPainter &painter) {
    const double width = pageSize.width();
    const double height = pageSize.height();
    painter.fillRect(QRectF(0, 0, width, height), paperColor);
    const PaperLines lines = paperLines(pageSize);
    if (!lines.hasLines)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(ruleColor, 1.0));
    for (const double y : lines.ruleYs)
        painter.drawLine(QPointF(0, y), QPointF(width, y));
    painter.setPen(QPen(marginColor, 1.0));
    painter.drawLine(QPointF(lines.marginX, 0), QPointF(lines.marginX, height));
    painter.fillRect(QRectF(0, height - 1, width, 1), edgeColor);
    painter.restore();
}

void drawPage(QSizeF pageSize, int pageIndex, const std::vector<DesktopCanvasReplayPageStroke> &strokes,
              QPainter &painter) {
    drawPaper(pageSize, painter);
    painter.save();
    painter.translate(0, -double(pageIndex) * pageSize.height());
    for (const DesktopCanvasReplayPageStroke &entry : strokes)
        drawStroke(entry.stroke, entry.role, painter);
    painter.restore();
}

void drawStroke(const DesktopCanvasReplayStroke &stroke, DesktopCanvasReplayRole role, QPainter &painter) {
    if (!stroke.isDrawable())
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(inkColor(role), stroke.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(stroke.points.constData(), int(stroke.points.size()));
}

std::optional<QPainterPath> strokePath(const DesktopCanvasReplayStroke &stroke) {
    if (!stroke.isDrawable())
        return std::nullopt;
    QPainterPath path(stroke.points.constFirst());
    for (qsizetype i = 1; i < stroke.points.size(); ++i)
        path.lineTo(stroke.points[i]);
    return path;
}

} // namespace rirudez::DesktopCanvasReplayRenderer
