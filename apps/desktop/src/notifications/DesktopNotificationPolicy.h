#pragma once

// Which conversation events deserve a desktop notification, decided from plain values so the rules read as a
// table: an approval waiting, a turn finished and a turn failed notify, and only when the user is not looking
// at the thread (another thread is selected, or the window is not active).
//
// A turn's end notifies only when the thread was seen running at the previous look. Events that arrive in one
// burst (a replay of a session's history after subscribing) go straight from "nothing seen" to "finished" and
// stay quiet; a live turn streams for a while and is seen running first.

#include "DesktopCodingHarnessModels.h"

#include <QList>
#include <QString>

#include <optional>

namespace rirudez {

// Where the last turn of a thread stands, read from the end of its event log.
enum class DesktopTurnActivity { none, running, finished, failed, cancelled };

enum class DesktopNotificationReason { approvalWaiting, turnFinished, turnFailed };

// One notification as the user sees it, with what it refers to.
struct DesktopNotification {
    DesktopNotificationReason reason = DesktopNotificationReason::turnFinished;
    QString threadID;
    QString approvalID; // the pending approval's `id` (approvalWaiting only)
    QString title;
    QString body;
    bool operator==(const DesktopNotification &) const = default;
};

class DesktopNotificationPolicy {
public:
    // The state of the last turn: scans back from the end of the log to the latest event that tells.
    static DesktopTurnActivity activityOf(const QList<DesktopCodingEvent> &events);

    // Whether the user is looking at the thread.
    static bool isInView(bool threadSelected, bool windowActive) { return threadSelected && windowActive; }

    // The turn notification a change of activity calls for, if any.
    static std::optional<DesktopNotificationReason> turnEnded(DesktopTurnActivity before,
                                                              DesktopTurnActivity now);

    // The notification texts.
    static DesktopNotification approvalWaiting(const DesktopCodingThread &thread,
                                               const DesktopCodingPendingApproval &approval);
    static DesktopNotification turnNotification(DesktopNotificationReason reason,
                                                const DesktopCodingThread &thread);

    // The window title: "Rirudez", or "Rirudez (n)" while n threads have something new.
    static QString windowTitle(int threadsWithNews);
};

} // namespace rirudez
