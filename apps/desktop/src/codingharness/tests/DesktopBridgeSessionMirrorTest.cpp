// Session registry, session-list request and mirror rules: ordering by recency, the selectable sessions and
// the session to bring forward, the registry's connection lifecycle, and a list request that finishes
// exactly once whichever of reply and timeout comes first.

#include "DesktopBridgeSessionMirror.h"

#include "support/EventLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace rirudez;

namespace {

// Timers and the event loop need the application object.
struct QtApplication : ::testing::Environment {
    void SetUp() override { rirudez::testing::ensureCoreApplication(); }
};
const auto *const qtApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

// Minutes after 10:00 UTC on a fixed day; negative means "no date".
QDateTime at(int minute) {
    return QDateTime(QDate(2026, 3, 14), QTime(10, 0), Qt::UTC).addSecs(qint64(minute) * 60);
}

RepoSessionSummary session(const QString &id) {
    RepoSessionSummary summary;
    summary.sessionID = id;
    summary.projectID = u"p"_s;
    return summary;
}

QList<RepoSessionSummary> sessions(const QStringList &ids) {
    QList<RepoSessionSummary> result;
    for (const QString &id : ids)
        result.append(session(id));
    return result;
}

QStringList idsOf(const QList<RepoSessionSummary> &list) {
    QStringList ids;
    for (const auto &summary : list)
        ids.append(summary.sessionID);
    return ids;
}

// A session as written in the cases below: id, recency minute (-1: none), conversation flag (-1: unknown).
struct Listed {
    QString id;
    int minute = -1;
    int conversation = -1;
};

struct Listing {
    QList<RepoSessionSummary> sessions;
    QHash<QString, QDateTime> recency;
    QHash<QString, bool> conversation;
};

Listing listing(const QList<Listed> &entries) {
    Listing result;
    for (const Listed &entry : entries) {
        result.sessions.append(session(entry.id));
        if (entry.minute >= 0)
            result.recency.insert(entry.id, at(entry.minute));
        if (entry.conversation >= 0)
            result.conversation.insert(entry.id, entry.conversation == 1);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------------------

// A listing and the session ids expected from it, in order.
struct OrderCase {
    const char *name;
    QList<Listed> input;
    QStringList expected;
};

class OrderedByRecency : public ::testing::TestWithParam<OrderCase> {};

TEST_P(OrderedByRecency, LaterFirstDatedBeforeUndatedOtherwiseInputOrder) {
    const Listing in = listing(GetParam().input);
    EXPECT_EQ(idsOf(DesktopBridgeSessionMirror::orderedByRecency(in.sessions, in.recency)),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, OrderedByRecency,
                         ::testing::Values(OrderCase{"DatedUndatedDated",
                                                     {{u"A"_s, 5}, {u"B"_s}, {u"C"_s, 7}},
                                                     {u"C"_s, u"A"_s, u"B"_s}},
                                           OrderCase{"EqualDatesKeepInputOrder",
                                                     {{u"A"_s, 5}, {u"B"_s, 6}, {u"C"_s, 5}, {u"D"_s, 5}},
                                                     {u"B"_s, u"A"_s, u"C"_s, u"D"_s}},
                                           OrderCase{"UndatedKeepInputOrderAfterDated",
                                                     {{u"A"_s}, {u"B"_s}, {u"C"_s, 1}, {u"D"_s}},
                                                     {u"C"_s, u"A"_s, u"B"_s, u"D"_s}},
                                           OrderCase{"Empty", {}, {}}),
                         [](const auto &caseInfo) { return std::string(caseInfo.param.name); });

TEST(OrderedByRecencyDates, InvalidDatesCountAsNoneAndZonesCompareAsInstants) {
    // 11:30 at UTC+2 is 09:30 UTC, earlier than 10:00 UTC.
    QHash<QString, QDateTime> recency{
        {u"A"_s, QDateTime()},
        {u"B"_s, QDateTime(QDate(2026, 3, 14), QTime(11, 30), Qt::OffsetFromUTC, 2 * 3600)},
        {u"C"_s, at(0)}};
    EXPECT_EQ(
        idsOf(DesktopBridgeSessionMirror::orderedByRecency(sessions({u"A"_s, u"B"_s, u"C"_s}), recency)),
        (QStringList{u"C"_s, u"B"_s, u"A"_s}));
}

// ---------------------------------------------------------------------------------------------------------

class SelectableBridgeSessions : public ::testing::TestWithParam<OrderCase> {};

TEST_P(SelectableBridgeSessions, ConversationFirstThenUnknownThenAll) {
    const Listing in = listing(GetParam().input);
    EXPECT_EQ(idsOf(DesktopBridgeSessionMirror::selectableBridgeSessions(in.sessions, in.conversation)),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectableBridgeSessions,
    ::testing::Values(
        OrderCase{"OnlyTheConversation", {{u"A"_s, -1, 0}, {u"B"_s}, {u"C"_s, -1, 1}}, {u"C"_s}},
        OrderCase{"UnknownWhenNoConversation", {{u"A"_s, -1, 0}, {u"B"_s}}, {u"B"_s}},
        OrderCase{
            "AllWhenAllFalse", {{u"A"_s, -1, 0}, {u"B"_s, -1, 0}, {u"C"_s, -1, 0}}, {u"A"_s, u"B"_s, u"C"_s}},
        OrderCase{"EveryConversationInOrder", {{u"C"_s, -1, 1}, {u"B"_s}, {u"A"_s, -1, 1}}, {u"C"_s, u"A"_s}},
        OrderCase{"Empty", {}, {}}),
    [](const auto &caseInfo) { return std::string(caseInfo.param.name); });

// ---------------------------------------------------------------------------------------------------------

struct AutoSelectCase {
    const char *name;
    QList<Listed> ordered; // as the caller passes them: already ordered by recency
    QStringList known;
    int latestSeen; // minute, -1: nothing seen yet
    std::optional<QString> expected;
};

class BridgeSessionIDToAutoSelect : public ::testing::TestWithParam<AutoSelectCase> {};

TEST_P(BridgeSessionIDToAutoSelect, NewerSessionElseFirstWithoutThread) {
    const AutoSelectCase &c = GetParam();
    const Listing in = listing(c.ordered);
    const QSet<QString> known(c.known.begin(), c.known.end());
    const std::optional<QDateTime> latestSeen =
        c.latestSeen >= 0 ? std::optional(at(c.latestSeen)) : std::nullopt;
    EXPECT_EQ(DesktopBridgeSessionMirror::bridgeSessionIDToAutoSelect(in.sessions, in.recency,
                                                                      in.conversation, known, latestSeen),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeSessionIDToAutoSelect,
    ::testing::Values(
        // Touched since the desktop last looked (for example started from the tablet), even with a thread.
        AutoSelectCase{"NewerThanLatestSeen", {{u"C"_s, 7}, {u"A"_s, 5}}, {u"C"_s, u"A"_s}, 6, u"C"_s},
        AutoSelectCase{
            "NotNewerTakesFirstWithoutThread", {{u"A"_s, 5}, {u"B"_s, 4}, {u"C"_s}}, {u"A"_s}, 6, u"B"_s},
        AutoSelectCase{"NotNewerAndAllKnown", {{u"A"_s, 5}, {u"B"_s}}, {u"A"_s, u"B"_s}, 6, std::nullopt},
        AutoSelectCase{"EqualToLatestSeenIsNotNewer", {{u"A"_s, 6}}, {u"A"_s}, 6, std::nullopt},
        AutoSelectCase{
            "NothingSeenYetTakesTheMostRecent", {{u"A"_s, 5}, {u"B"_s, 4}}, {u"A"_s, u"B"_s}, -1, u"A"_s},
        // Only the first dated candidate is compared: a later one that is newer does not count.
        AutoSelectCase{
            "OnlyFirstDatedCandidateCounts", {{u"A"_s, 5}, {u"B"_s, 8}}, {u"A"_s, u"B"_s}, 6, std::nullopt},
        // A newer session whose log shows no conversation is not a candidate while others have one.
        AutoSelectCase{"NewerWithoutConversationIsPassedOver",
                       {{u"N"_s, 9, 0}, {u"A"_s, 5, 1}},
                       {u"A"_s},
                       6,
                       std::nullopt},
        AutoSelectCase{
            "UndatedCandidatesFirstWithoutThread", {{u"A"_s}, {u"B"_s}, {u"C"_s}}, {u"A"_s}, -1, u"B"_s},
        AutoSelectCase{"NoSessions", {}, {}, -1, std::nullopt}),
    [](const auto &caseInfo) { return std::string(caseInfo.param.name); });

// ---------------------------------------------------------------------------------------------------------

TEST(DesktopBridgeSessionRegistry, ANewConnectionHasNoSubscriptionsButKeepsMappings) {
    DesktopBridgeSessionRegistry registry;
    registry.bind(u"s1"_s, u"t0"_s);
    registry.bind(u"s2"_s, u"t2"_s);
    registry.bind(u"s1"_s, u"t1"_s); // a later bind replaces the mapping
    EXPECT_EQ(registry.mappedBridgeSessionIDs(), (QSet<QString>{u"s1"_s, u"s2"_s}));
    registry.recordOpenRequest(u"r1"_s, u"t1"_s);
    registry.recordOpenRequest(u"r2"_s, u"t2"_s);
    EXPECT_EQ(registry.takeOpenRequestThread(u"r2"_s), u"t2"_s);
    EXPECT_EQ(registry.takeOpenRequestThread(u"r2"_s), std::nullopt); // a repeated reply is not honoured

    registry.markConnected();
    EXPECT_TRUE(registry.shouldSubscribe(u"s1"_s));
    registry.markSubscribed(u"s1"_s);
    EXPECT_FALSE(registry.shouldSubscribe(u"s1"_s));

    registry.markConnected(); // reconnected: the subscription must be sent again
    EXPECT_TRUE(registry.shouldSubscribe(u"s1"_s));

    registry.markSubscribed(u"s1"_s);
    registry.resetConnection();
    EXPECT_FALSE(registry.isConnected());
    EXPECT_TRUE(registry.shouldSubscribe(u"s1"_s));
    EXPECT_EQ(registry.mappedThreadID(u"s1"_s), u"t1"_s);
    EXPECT_EQ(registry.takeOpenRequestThread(u"r1"_s), u"t1"_s);
}

// ---------------------------------------------------------------------------------------------------------
// The session-list request.

struct ListTimedOut : std::runtime_error {
    ListTimedOut() : std::runtime_error("timed out") {}
};

BridgeSessionListResult timeoutFailure() {
    return std::make_exception_ptr(ListTimedOut{});
}

bool isTimeout(const BridgeSessionListResult &result) {
    if (result.hasValue())
        return false;
    try {
        std::rethrow_exception(result.error());
    } catch (const ListTimedOut &) {
        return true;
    } catch (...) {
        return false;
    }
}

// Processes events until a timer started now with `milliseconds` has fired. Timers fire in the order of
// their deadlines, so everything due earlier has run by then.
void runEventsFor(int milliseconds) {
    bool fired = false;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, [&fired] { fired = true; });
    ASSERT_TRUE(QTest::qWaitFor([&fired] { return fired; }, milliseconds + 5000));
}

TEST(BridgeSessionListRequest, FinishCancelsTheTimeout) {
    int calls = 0;
    int timeouts = 0;
    QStringList delivered;
    BridgeSessionListRequest request(u"r1"_s, [&](BridgeSessionListResult result) {
        ++calls;
        delivered = result.hasValue() ? idsOf(result.value()) : QStringList{u"(error)"_s};
    });
    request.scheduleTimeout(2'000'000, [&] { ++timeouts; });
    request.finish(sessions({u"a"_s}));
    request.finish(sessions({u"b"_s})); // only the first finish counts
    EXPECT_FALSE(request.hasTimeoutTask());
    runEventsFor(30);
    EXPECT_EQ(timeouts, 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(delivered, QStringList{u"a"_s});
}

TEST(BridgeSessionListRequest, TimeoutDoesNotFireBeforeItsTime) {
    qint64 firedAfter = -1;
    QElapsedTimer clock;
    clock.start();
    BridgeSessionListRequest request(u"r1"_s, [](BridgeSessionListResult) {});
    // 40.5 ms: rounded up to whole milliseconds, never down, and not fired early by a coarse timer.
    request.scheduleTimeout(40'500'000, [&] { firedAfter = clock.nsecsElapsed(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return firedAfter >= 0; }, 5000));
    EXPECT_GE(firedAfter, 40'500'000);
}

// The owner's side, as the view model does it: the pending request is taken out of its slot before it is
// finished, so the request is destroyed during its own reply or timeout.
struct PendingListOwner {
    std::unique_ptr<BridgeSessionListRequest> pending;
    int deliveries = 0;
    int timeoutDeliveries = 0;

    void finishPending(const QString &requestID, BridgeSessionListResult result) {
        if (!pending || pending->requestID() != requestID)
            return;
        std::unique_ptr<BridgeSessionListRequest> request = std::move(pending);
        request->finish(std::move(result));
    }
};

TEST(BridgeSessionListRequest, RacingReplyAndTimeoutFinishExactlyOnce) {
    PendingListOwner owner;
    for (int round = 0; round < 60; ++round) {
        const QString requestID = u"r%1"_s.arg(round);
        int callsThisRound = 0;
        owner.pending = std::make_unique<BridgeSessionListRequest>(
            requestID, [&owner, &callsThisRound](BridgeSessionListResult result) {
                ++callsThisRound;
                ++owner.deliveries;
                if (isTimeout(result))
                    ++owner.timeoutDeliveries;
            });
        // Reply and timeout fall due at the same moment (a third of the rounds: the reply a little earlier
        // or later), so either may be handled first.
        const int replyDelay = 1 + (round % 3 == 1 ? 1 : 0);
        const int timeoutDelay = 1 + (round % 3 == 2 ? 1 : 0);
        owner.pending->scheduleTimeout(std::uint64_t(timeoutDelay) * 1'000'000, [&owner, requestID] {
            owner.finishPending(requestID, timeoutFailure());
        });
        QTimer::singleShot(replyDelay, Qt::PreciseTimer,
                           [&owner, requestID] { owner.finishPending(requestID, sessions({u"s"_s})); });
        runEventsFor(6);
        EXPECT_EQ(callsThisRound, 1) << "round " << round;
        EXPECT_EQ(owner.pending, nullptr);
    }
    EXPECT_EQ(owner.deliveries, 60);
}

// ---------------------------------------------------------------------------------------------------------
// Awaiting the result.

struct Outcome {
    bool done = false;
    QStringList sessionIDs;
    bool timedOut = false;
    bool abandoned = false;
};

QCoro::Task<> awaitResult(const BridgeSessionListRequest &request, Outcome &outcome) {
    QCoro::Task<QList<RepoSessionSummary>> result = request.result();
    try {
        outcome.sessionIDs = idsOf(co_await std::move(result));
    } catch (const ListTimedOut &) {
        outcome.timedOut = true;
    } catch (const BridgeSessionListAbandoned &) {
        outcome.abandoned = true;
    }
    outcome.done = true;
}

TEST(BridgeSessionListRequestResult, ResumesFromTheEventLoopAfterTheRequestIsGone) {
    Outcome outcome;
    auto request = std::make_unique<BridgeSessionListRequest>(u"r1"_s);
    awaitResult(*request, outcome);
    EXPECT_FALSE(outcome.done);

    request->finish(sessions({u"a"_s, u"b"_s}));
    request.reset();
    EXPECT_FALSE(outcome.done) << "resumed inside finish";
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.done; }, 5000));
    EXPECT_EQ(outcome.sessionIDs, (QStringList{u"a"_s, u"b"_s}));
}

TEST(BridgeSessionListRequestResult, ATimeoutIsRethrownToTheAwaiter) {
    Outcome outcome;
    PendingListOwner owner;
    owner.pending = std::make_unique<BridgeSessionListRequest>(u"r1"_s);
    awaitResult(*owner.pending, outcome);
    owner.pending->scheduleTimeout(1'000'000, [&owner] { owner.finishPending(u"r1"_s, timeoutFailure()); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.done; }, 5000));
    EXPECT_TRUE(outcome.timedOut);
}

TEST(BridgeSessionListRequestResult, AlreadyFinishedAnswersAtOnce) {
    Outcome outcome;
    BridgeSessionListRequest request(u"r1"_s);
    request.finish(sessions({u"a"_s}));
    awaitResult(request, outcome);
    EXPECT_EQ(outcome.sessionIDs, QStringList{u"a"_s});
}

TEST(BridgeSessionListRequestResult, ADroppedUnfinishedRequestReleasesItsAwaiter) {
    Outcome outcome;
    auto request = std::make_unique<BridgeSessionListRequest>(u"r1"_s);
    awaitResult(*request, outcome);
    request.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.done; }, 5000));
    EXPECT_TRUE(outcome.abandoned);
}

} // namespace
