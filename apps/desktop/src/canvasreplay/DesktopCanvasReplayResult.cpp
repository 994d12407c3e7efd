#include "DesktopCanvasReplayResult.h"

#include <algorithm>

namespace rirudez {

bool DesktopCanvasReplayBlock::hasRenderableInk() const {
    return std::any_of(strokes.cbegin(), strokes.cend(),
                       [](const DesktopCanvasReplayStroke &stroke) { return stroke.isDrawable(); });
}

double DesktopCanvasReplayResult::totalCanvasHeight() const {
    return double(std::max<std::int64_t>(pageCount, 0)) * pageSize.height();
}

bool DesktopCanvasReplayResult::isEmpty() const {
    return std::none_of(blocks.cbegin(), blocks.cend(),
                        [](const DesktopCanvasReplayBlock &block) { return block.hasRenderableInk(); });
}

QList<DesktopCanvasReplayBlock> DesktopCanvasReplayResult::renderableBlocks() const {
    QList<DesktopCanvasReplayBlock> kept;
    for (const DesktopCanvasReplayBlock &block : blocks)
        if (block.hasRenderableInk())
            kept.append(block);
    return kept;
}

} // namespace rirudez
