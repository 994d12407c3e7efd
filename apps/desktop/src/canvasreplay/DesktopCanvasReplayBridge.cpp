#include "DesktopCanvasReplayBridge.h"

#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <algorithm>

namespace rirudez::DesktopCanvasReplayBridge {

DesktopCanvasReplayResult desktopResult(const ConversationHandwritingReplay::ReplayInput &input) {
    return desktopResult(ConversationHandwritingReplay::buildReplay(input), input.pageSize,
                         input.maxPageCount);
}

DesktopCanvasReplayResult desktopResult(const ConversationHandwritingReplay::ReplayResult &result,
                                        ConversationHandwritingReplay::PageSize pageSize,
                                        std::int64_t pageCount) {
    DesktopCanvasReplayResult desktop;
    desktop.pageSize = QSizeF(pageSize.width, pageSize.height);
    desktop.lastAffectedPageIndex = result.lastAffectedPageIndex;
    desktop.truncated = result.truncated;
    std::int64_t lastPage = result.lastAffectedPageIndex;
    desktop.blocks.reserve(qsizetype(result.blocks.size()));
    for (const ConversationHandwritingReplay::ReplayBlock &block : result.blocks) {
        if (std::optional<DesktopCanvasReplayBlock> converted = desktopBlock(block)) {
            lastPage = std::max(lastPage, converted->endPageIndex);
            desktop.blocks.append(std::move(*converted));
        }
    }
    desktop.pageCount = std::clamp<std::int64_t>(lastPage + 1, 1, std::max<std::int64_t>(pageCount, 1));
    return desktop;
}

std::optional<DesktopCanvasReplayBlock>
desktopBlock(const ConversationHandwritingReplay::ReplayBlock &block) {
    DesktopCanvasReplayBlock desktop;
    desktop.id = block.messageID;
    desktop.role = desktopRole(block.role);
    desktop.startPageIndex = block.startPageIndex;
    desktop.endPageIndex = block.endPageIndex;
    desktop.globalTopY = block.globalTopY;
    desktop.globalBottomY = block.globalBottomY;
    desktop.strokes.reserve(qsizetype(block.paths.size()));
    for (const ConversationHandwritingReplay::ReplayPath &path : block.paths)
        if (std::optional<DesktopCanvasReplayStroke> stroke = DesktopCanvasReplayStroke::fromRawPoints(path))
            desktop.strokes.append(std::move(*stroke));
    if (desktop.strokes.isEmpty())
        return std::nullopt;
    return desktop;
}

DesktopCanvasReplayRole desktopRole(ConversationHandwritingReplay::MessageRole role) {
    return role == ConversationHandwritingReplay::MessageRole::user ? DesktopCanvasReplayRole::user
                                                                    : DesktopCanvasReplayRole::assistant;
}

} // namespace rirudez::DesktopCanvasReplayBridge
