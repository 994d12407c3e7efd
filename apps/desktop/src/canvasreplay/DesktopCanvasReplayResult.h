#pragma once

// What the desktop canvas draws: blocks of strokes, one block per message, on a stack of equal pages.
// Page i covers global Y from i × page height to (i + 1) × page height; X is page-local.

#include "DesktopCanvasReplayRole.h"
#include "DesktopCanvasReplayStroke.h"

#include <QList>
#include <QSizeF>
#include <QString>

#include <cstdint>

namespace rirudez {

struct DesktopCanvasReplayBlock {
    QString id;
    DesktopCanvasReplayRole role = DesktopCanvasReplayRole::user;
    std::int64_t startPageIndex = 0;
    std::int64_t endPageIndex = 0;
    double globalTopY = 0;
    double globalBottomY = 0;
    QList<DesktopCanvasReplayStroke> strokes;

    qsizetype strokeCount() const { return strokes.size(); }
    bool hasRenderableInk() const;

    bool operator==(const DesktopCanvasReplayBlock &) const = default;
};

// A stroke as drawn on its page, with the role of its block.
struct DesktopCanvasReplayPageStroke {
    DesktopCanvasReplayRole role = DesktopCanvasReplayRole::user;
    DesktopCanvasReplayStroke stroke; // shares its points with the block it belongs to
    qsizetype block = 0;              // index of that block in the result's blocks
};

struct DesktopCanvasReplayResult {
    QSizeF pageSize;
    std::int64_t pageCount = 0; // pages shown
    QList<DesktopCanvasReplayBlock> blocks;
    std::int64_t lastAffectedPageIndex = 0;
    bool truncated = false;

    // pageCount × page height.
    double totalCanvasHeight() const;
    // True when no block has ink to draw.
    bool isEmpty() const;
    QList<DesktopCanvasReplayBlock> renderableBlocks() const;

    bool operator==(const DesktopCanvasReplayResult &) const = default;
};

} // namespace rirudez
