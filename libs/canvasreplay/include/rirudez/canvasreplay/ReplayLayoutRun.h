#pragma once

// A handwriting layout that stops between messages and goes on later, so a long conversation can show its
// first pages before the rest is laid out. Message after message it makes exactly the blocks of
// `buildReplay` (which is one run taken to its end).
//
// A run can also continue from a position another run reached, for an input whose first messages, page size,
// page count and start are the same: a conversation that only changed at its end is laid out again from
// there, not from its start.
//
// Pure and deterministic like the rest of the layout: a run owns its input and touches nothing else, so it
// may work on any thread (one thread at a time).

#include "rirudez/canvasreplay/ReplayRecords.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace rirudez::ConversationHandwritingReplay {

class ReplayLayoutRun {
public:
    // Where a run stands before a message: all the layout carries from one message to the next.
    struct Position {
        std::size_t nextMessage = 0;            // index into the input's messages
        double cursorGlobalY = 0;               // the writing cursor
        std::optional<MessageRole> lastRole;    // role of the last message drawn, for the speaker gap
        std::int64_t lastAffectedPageIndex = 0; // as in ReplayResult
        bool truncated = false;                 // the pages ran out: the run is over
        bool operator==(const Position &) const = default;
    };

    explicit ReplayLayoutRun(ReplayInput input);
    // Continues from `from`, a position reached by a run on an input with the same first `from.nextMessage`
    // messages, page size, page count and start position.
    ReplayLayoutRun(ReplayInput input, Position from);

    const ReplayInput &input() const { return m_input; }
    const Position &position() const { return m_position; }
    // True when every message is laid out, the pages ran out, or the input has no pages.
    bool isFinished() const;

    // Lays out the next message and returns its block, or nothing when it drew none (blank, or no room).
    std::optional<ReplayBlock> layOutNextMessage();

    // The outcome so far, without the blocks (those were handed out one by one).
    ReplayResult resultWithoutBlocks() const;

private:
    ReplayInput m_input;
    std::optional<ReplayLayoutMetrics> m_metrics;
    Position m_position;
};

} // namespace rirudez::ConversationHandwritingReplay
