// Which conversation events notify: the state of a thread's last turn read from its log, the transitions that
// notify, who is looking, and the texts the user reads.

#include "DesktopNotificationPolicy.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

using Kind = DesktopCodingEventKind;

DesktopCodingEvent event(Kind kind, const QString &summary, std::optional<QString> detail = {}) {
    static int next = 0;
    return DesktopCodingEvent(u"e%1"_s.arg(++next), kind, summary, std::move(detail));
}
DesktopCodingEvent status(const char *state) {
    return event(Kind::status, u"Bridge turn "_s + QString::fromLatin1(state));
}

struct ActivityCase {
    const char *name;
    QList<DesktopCodingEvent> events;
    DesktopTurnActivity expected;
};

class ActivityOfLog : public ::testing::TestWithParam<ActivityCase> {};

TEST_P(ActivityOfLog, ReadsTheLastTurn) {
    EXPECT_EQ(DesktopNotificationPolicy::activityOf(GetParam().events), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, ActivityOfLog,
    ::testing::Values(
        ActivityCase{"Empty", {}, DesktopTurnActivity::none},
        ActivityCase{"OnlySessionStatus",
                     {event(Kind::status, u"Bridge confirmed session"_s)},
                     DesktopTurnActivity::none},
        ActivityCase{"Prompted",
                     {event(Kind::userMessage, u"hi"_s), status("received")},
                     DesktopTurnActivity::running},
        ActivityCase{
            "Streaming",
            {event(Kind::userMessage, u"hi"_s), status("working"), event(Kind::assistantText, u"Hel"_s)},
            DesktopTurnActivity::running},
        ActivityCase{"WaitingForApproval",
                     {event(Kind::userMessage, u"rm"_s), event(Kind::approval, u"rm -rf build"_s, u"Bash"_s)},
                     DesktopTurnActivity::running},
        ActivityCase{"ApprovalAnsweredStillRunning",
                     {event(Kind::userMessage, u"rm"_s), event(Kind::approval, u"rm"_s),
                      event(Kind::status, u"Approval approved"_s)},
                     DesktopTurnActivity::running},
        ActivityCase{"ResultThenDone",
                     {event(Kind::userMessage, u"hi"_s), event(Kind::completed, u"Hello"_s), status("done")},
                     DesktopTurnActivity::finished},
        ActivityCase{
            "ErrorThenDone",
            {event(Kind::userMessage, u"hi"_s), event(Kind::failed, u"agent failed"_s), status("done")},
            DesktopTurnActivity::failed},
        ActivityCase{"DoneWithoutResult",
                     {event(Kind::userMessage, u"hi"_s), event(Kind::assistantText, u"Hi"_s), status("done")},
                     DesktopTurnActivity::finished},
        ActivityCase{
            "Cancelled",
            {event(Kind::userMessage, u"hi"_s), event(Kind::assistantText, u"Hi"_s), status("cancelled")},
            DesktopTurnActivity::cancelled},
        ActivityCase{
            "DispatchFailedOnTheDesktop",
            {event(Kind::userMessage, u"hi"_s), event(Kind::failed, u"Zad Ezarur dispatch failed"_s)},
            DesktopTurnActivity::failed},
        ActivityCase{"NextTurnAfterAFinishedOne",
                     {event(Kind::completed, u"one"_s), status("done"), event(Kind::userMessage, u"two"_s)},
                     DesktopTurnActivity::running}),
    [](const auto &p) { return std::string(p.param.name); });

struct TransitionCase {
    const char *name;
    DesktopTurnActivity before;
    DesktopTurnActivity now;
    std::optional<DesktopNotificationReason> expected;
};

class TurnEnded : public ::testing::TestWithParam<TransitionCase> {};

TEST_P(TurnEnded, NotifiesOnlyTheEndOfATurnSeenRunning) {
    EXPECT_EQ(DesktopNotificationPolicy::turnEnded(GetParam().before, GetParam().now), GetParam().expected);
}

using A = DesktopTurnActivity;
using R = DesktopNotificationReason;
INSTANTIATE_TEST_SUITE_P(
    Transitions, TurnEnded,
    ::testing::Values(TransitionCase{"RunningToFinished", A::running, A::finished, R::turnFinished},
                      TransitionCase{"RunningToFailed", A::running, A::failed, R::turnFailed},
                      TransitionCase{"RunningToCancelled", A::running, A::cancelled, std::nullopt},
                      TransitionCase{"StillRunning", A::running, A::running, std::nullopt},
                      // A replayed history arrives in one burst: never seen running, stays quiet.
                      TransitionCase{"ReplayedFinished", A::none, A::finished, std::nullopt},
                      TransitionCase{"ReplayedFailed", A::none, A::failed, std::nullopt},
                      TransitionCase{"FinishedAgain", A::finished, A::finished, std::nullopt},
                      TransitionCase{"FailedThenFinishedUnseen", A::failed, A::finished, std::nullopt}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(NotificationPolicy, InViewOnlyWhenSelectedInTheActiveWindow) {
    EXPECT_TRUE(DesktopNotificationPolicy::isInView(true, true));
    EXPECT_FALSE(DesktopNotificationPolicy::isInView(true, false));
    EXPECT_FALSE(DesktopNotificationPolicy::isInView(false, true));
    EXPECT_FALSE(DesktopNotificationPolicy::isInView(false, false));
}

TEST(NotificationPolicy, TextsNameTheThreadAndWhatHappened) {
    DesktopCodingThread thread;
    thread.id = u"t1"_s;
    thread.title = u"Clean the build"_s;
    const auto approval = DesktopCodingPendingApproval::make(u"s1"_s, u"a1"_s, u"m1"_s, u"Bash"_s,
                                                             u"rm  -rf\nbuild"_s, u"t1"_s, u"e1"_s, {});
    const DesktopNotification asked = DesktopNotificationPolicy::approvalWaiting(thread, approval);
    EXPECT_EQ(asked.reason, DesktopNotificationReason::approvalWaiting);
    EXPECT_EQ(asked.threadID, u"t1"_s);
    EXPECT_EQ(asked.approvalID, approval.id);
    EXPECT_EQ(asked.title, u"Approval waiting · Clean the build"_s);
    EXPECT_EQ(asked.body, u"Bash: rm -rf build"_s);

    thread.session.events = {event(Kind::userMessage, u"go"_s), event(Kind::assistantText, u"draft"_s),
                             event(Kind::completed, u"All  done.\nBuild removed."_s), status("done")};
    const DesktopNotification finished =
        DesktopNotificationPolicy::turnNotification(DesktopNotificationReason::turnFinished, thread);
    EXPECT_EQ(finished.title, u"Turn finished · Clean the build"_s);
    EXPECT_EQ(finished.body, u"All done. Build removed."_s);
    EXPECT_TRUE(finished.approvalID.isEmpty());

    thread.session.events.append(event(Kind::failed, u"Zad Ezarur dispatch failed"_s, u"socket closed"_s));
    const DesktopNotification failed =
        DesktopNotificationPolicy::turnNotification(DesktopNotificationReason::turnFailed, thread);
    EXPECT_EQ(failed.title, u"Turn failed · Clean the build"_s);
    EXPECT_EQ(failed.body, u"Zad Ezarur dispatch failed: socket closed"_s);

    // A long answer is cut.
    thread.session.events.append(event(Kind::completed, QString(500, u'x')));
    const QString cut =
        DesktopNotificationPolicy::turnNotification(DesktopNotificationReason::turnFinished, thread).body;
    EXPECT_TRUE(cut.startsWith(QString(200, u'x')) && cut.size() < 210) << cut.size();
}

TEST(NotificationPolicy, WindowTitleCountsThreadsWithNews) {
    EXPECT_EQ(DesktopNotificationPolicy::windowTitle(0), u"Rirudez"_s);
    EXPECT_EQ(DesktopNotificationPolicy::windowTitle(1), u"Rirudez (1)"_s);
    EXPECT_EQ(DesktopNotificationPolicy::windowTitle(12), u"Rirudez (12)"_s);
}

} // namespace
