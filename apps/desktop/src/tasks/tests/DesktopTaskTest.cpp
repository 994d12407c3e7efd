// The guard-and-catch around started tasks: a value or a failure comes back while the owner lives, nothing
// once it is gone, for QObject owners and for owners held by a weak pointer alike.
#include "DesktopTask.h"

#include "EventLoop.h"

#include <QCoroSignal>
#include <QObject>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace rirudez {
namespace {

constexpr int deadlineMs = 5000;

// What the operations under test wait for.
class Gate : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void opened();
};

// An operation that ends when the gate opens: with 42, or by throwing.
QCoro::Task<int> answerWhenOpened(Gate *gate, bool fails) {
    co_await qCoro(gate, &Gate::opened);
    if (fails)
        throw std::runtime_error("refused");
    co_return 42;
}

QCoro::Task<void> finishWhenOpened(Gate *gate, bool fails) {
    QCoro::Task<int> answering = answerWhenOpened(gate, fails);
    co_await answering;
}

using Seen = std::optional<std::optional<DesktopTaskOutcome<int>>>;

QCoro::Task<void> observe(QObject *owner, QCoro::Task<int> task, Seen *seen) {
    auto guarded = guardedTask(owner, std::move(task));
    *seen = co_await guarded;
}

QCoro::Task<void> observeWeak(std::weak_ptr<bool> alive, QCoro::Task<int> task, Seen *seen) {
    auto guarded = guardedTask(std::move(alive), std::move(task));
    *seen = co_await guarded;
}

struct GuardCase {
    std::string name;
    bool weakOwner;
    bool fails;
    bool ownerGoes;
};

void PrintTo(const GuardCase &c, std::ostream *os) {
    *os << c.name;
}

class GuardedTask : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardedTask, ResumesWithTheOutcomeOnlyWhileTheOwnerLives) {
    rirudez::testing::ensureCoreApplication();
    const GuardCase &c = GetParam();
    Gate gate;
    auto owner = std::make_unique<QObject>();
    auto alive = std::make_shared<bool>(true);
    Seen seen;
    QCoro::Task<void> observing = c.weakOwner ? observeWeak(alive, answerWhenOpened(&gate, c.fails), &seen)
                                              : observe(owner.get(), answerWhenOpened(&gate, c.fails), &seen);
    if (c.ownerGoes) {
        owner.reset();
        alive.reset();
    }
    Q_EMIT gate.opened();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.has_value(); }, deadlineMs));

    const std::optional<DesktopTaskOutcome<int>> &outcome = *seen;
    if (c.ownerGoes) {
        EXPECT_FALSE(outcome.has_value());
        return;
    }
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->failure != nullptr, c.fails);
    EXPECT_EQ(outcome->value, c.fails ? std::nullopt : std::optional(42));
}

INSTANTIATE_TEST_SUITE_P(Owners, GuardedTask,
                         ::testing::Values(GuardCase{"ValueWhileTheObjectLives", false, false, false},
                                           GuardCase{"FailureWhileTheObjectLives", false, true, false},
                                           GuardCase{"NothingOnceTheObjectIsGone", false, false, true},
                                           GuardCase{"NothingOnceTheObjectIsGoneEvenOnFailure", false, true,
                                                     true},
                                           GuardCase{"ValueWhileTheWeakOwnerLives", true, false, false},
                                           GuardCase{"FailureWhileTheWeakOwnerLives", true, true, false},
                                           GuardCase{"NothingOnceTheWeakOwnerIsGone", true, false, true}),
                         [](const ::testing::TestParamInfo<GuardCase> &param) { return param.param.name; });

TEST(SettledTask, AnOperationWithoutValueReportsOnlyItsFailure) {
    rirudez::testing::ensureCoreApplication();
    for (const bool fails : {false, true}) {
        Gate gate;
        std::optional<DesktopTaskOutcome<void>> seen;
        QCoro::Task<void> observing = [](Gate *g, bool f,
                                         std::optional<DesktopTaskOutcome<void>> *out) -> QCoro::Task<void> {
            auto settling = settledTask(finishWhenOpened(g, f));
            *out = co_await settling;
        }(&gate, fails, &seen);
        Q_EMIT gate.opened();
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen.has_value(); }, deadlineMs));
        EXPECT_EQ(seen->failure != nullptr, fails);
    }
}

} // namespace
} // namespace rirudez

#include "DesktopTaskTest.moc"
