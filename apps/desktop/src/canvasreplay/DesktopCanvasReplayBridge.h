#pragma once

// Turns the layout library's replay into the desktop canvas's records.
//
// - Each row path goes through DesktopCanvasReplayStroke::fromRawPoints; paths that cannot be drawn are
//   dropped, and a block left without any stroke is dropped with them.
// - The result shows the pages from 0 to the last page written to (the larger of lastAffectedPageIndex and
//   the last block's end page), at least one page and never more than the page count the layout had.

#include "DesktopCanvasReplayResult.h"

#include "rirudez/canvasreplay/ReplayRecords.h"

#include <optional>

namespace rirudez::DesktopCanvasReplayBridge {

DesktopCanvasReplayResult desktopResult(const ConversationHandwritingReplay::ReplayInput &input);
DesktopCanvasReplayResult desktopResult(const ConversationHandwritingReplay::ReplayResult &result,
                                        ConversationHandwritingReplay::PageSize pageSize,
                                        std::int64_t pageCount);
std::optional<DesktopCanvasReplayBlock> desktopBlock(const ConversationHandwritingReplay::ReplayBlock &block);
DesktopCanvasReplayRole desktopRole(ConversationHandwritingReplay::MessageRole role);

} // namespace rirudez::DesktopCanvasReplayBridge
