#include "DesktopNotificationPolicy.h"

#include "DesktopCodingListModels.h"

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

constexpr qsizetype maximumBodyLength = 200;

// The start of a text with its whitespace runs collapsed, reading no further into the text than needed.
QString excerpt(const QString &text) {
    return leadingChatSnippet(text, maximumBodyLength);
}

// The last event of that kind, if any.
const DesktopCodingEvent *lastOfKind(const QList<DesktopCodingEvent> &events, DesktopCodingEventKind kind) {
    for (qsizetype i = events.size() - 1; i >= 0; --i)
        if (events[i].kind == kind)
            return &events[i];
    return nullptr;
}

} // namespace

DesktopTurnActivity DesktopNotificationPolicy::activityOf(const QList<DesktopCodingEvent> &events) {
    // The bridge ends a turn with "done" after its result or error; "done" alone (no result) still ends it.
    static const QString done = u"Bridge turn "_s + rawValue(TurnState::done);
    static const QString cancelled = u"Bridge turn "_s + rawValue(TurnState::cancelled);
    bool sawDone = false;
    for (qsizetype i = events.size() - 1; i >= 0; --i) {
        const DesktopCodingEvent &event = events[i];
        switch (event.kind) {
        case DesktopCodingEventKind::completed:
            return DesktopTurnActivity::finished;
        case DesktopCodingEventKind::failed:
            return DesktopTurnActivity::failed;
        case DesktopCodingEventKind::status:
            if (event.summary == cancelled)
                return DesktopTurnActivity::cancelled;
            if (event.summary == done)
                sawDone = true;
            continue; // other status lines (received, working, settings, approvals answered) do not tell
        case DesktopCodingEventKind::userMessage:
        case DesktopCodingEventKind::toolUse:
        case DesktopCodingEventKind::command:
        case DesktopCodingEventKind::approval:
        case DesktopCodingEventKind::createdFile:
        case DesktopCodingEventKind::diff:
        case DesktopCodingEventKind::assistantText:
            return sawDone ? DesktopTurnActivity::finished : DesktopTurnActivity::running;
        }
    }
    return sawDone ? DesktopTurnActivity::finished : DesktopTurnActivity::none;
}

std::optional<DesktopNotificationReason> DesktopNotificationPolicy::turnEnded(DesktopTurnActivity before,
                                                                              DesktopTurnActivity now) {
    if (before != DesktopTurnActivity::running)
        return std::nullopt;
    if (now == DesktopTurnActivity::finished)
        return DesktopNotificationReason::turnFinished;
    if (now == DesktopTurnActivity::failed)
        return DesktopNotificationReason::turnFailed;
    return std::nullopt;
}

DesktopNotification DesktopNotificationPolicy::approvalWaiting(const DesktopCodingThread &thread,
                                                               const DesktopCodingPendingApproval &approval) {
    DesktopNotification notification;
    notification.reason = DesktopNotificationReason::approvalWaiting;
    notification.threadID = thread.id;
    notification.approvalID = approval.id;
    notification.title = u"Approval waiting · "_s + thread.title;
    const QString summary = excerpt(approval.summary);
    notification.body =
        approval.method.trimmed().isEmpty() ? summary : approval.method.trimmed() + u": "_s + summary;
    return notification;
}

DesktopNotification DesktopNotificationPolicy::turnNotification(DesktopNotificationReason reason,
                                                                const DesktopCodingThread &thread) {
    DesktopNotification notification;
    notification.reason = reason;
    notification.threadID = thread.id;
    const QList<DesktopCodingEvent> &events = thread.session.events;
    if (reason == DesktopNotificationReason::turnFailed) {
        notification.title = u"Turn failed · "_s + thread.title;
        if (const DesktopCodingEvent *failed = lastOfKind(events, DesktopCodingEventKind::failed))
            notification.body =
                excerpt(failed->detail ? failed->summary + u": "_s + *failed->detail : failed->summary);
    } else {
        notification.title = u"Turn finished · "_s + thread.title;
        const DesktopCodingEvent *answer = lastOfKind(events, DesktopCodingEventKind::completed);
        if (!answer)
            answer = lastOfKind(events, DesktopCodingEventKind::assistantText);
        if (answer)
            notification.body = excerpt(answer->summary);
    }
    return notification;
}

QString DesktopNotificationPolicy::windowTitle(int threadsWithNews) {
    if (threadsWithNews <= 0)
        return u"Rirudez"_s;
    return u"Rirudez (%1)"_s.arg(threadsWithNews);
}

} // namespace rirudez
