#pragma once

// Connects the coding view model to the desktop's notification service. It watches the view model from the
// outside (its thread list model and pending approvals), decides with DesktopNotificationPolicy what deserves
// a notification, shows it through a DesktopNotifier, and carries the user's answer back: Approve and Deny
// answer the approval, a click brings the window forward on the thread.
//
// It also keeps which threads have something new the user has not seen (a badge in the rail, the count in the
// window title). A thread's news clears when the user looks at it.
//
// Changes are looked at once they settle: `settleInterval` after the last change, or `settleInterval` × 4
// after the first one while changes keep coming. A burst of events (a replayed history) is judged by where it
// ends.

#include "DesktopNotificationPolicy.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>

namespace rirudez {

class DesktopCodingHarnessViewModel;
class DesktopNotifier;

class DesktopNotificationCenter : public QObject {
    Q_OBJECT
    // Set by the window: whether it is the active window.
    Q_PROPERTY(bool windowActive READ windowActive WRITE setWindowActive NOTIFY windowActiveChanged)
    Q_PROPERTY(QStringList threadsWithNews READ threadsWithNews NOTIFY newsChanged)
    Q_PROPERTY(QString windowTitle READ windowTitle NOTIFY newsChanged)

public:
    static constexpr std::chrono::milliseconds defaultSettleInterval{250};

    DesktopNotificationCenter(DesktopCodingHarnessViewModel *viewModel, DesktopNotifier *notifier,
                              std::chrono::milliseconds settleInterval = defaultSettleInterval,
                              QObject *parent = nullptr);

    bool windowActive() const { return m_windowActive; }
    void setWindowActive(bool active);
    QStringList threadsWithNews() const;
    QString windowTitle() const { return DesktopNotificationPolicy::windowTitle(int(m_news.size())); }

    // Looks at every change so far now instead of after the settle interval.
    void settle();

Q_SIGNALS:
    void windowActiveChanged();
    void newsChanged();
    // A notification was clicked: the window should come forward (the thread is already selected).
    void activateRequested();

private:
    struct Shown {
        QString threadID;
        QString approvalID; // empty for turn notifications
    };

    void threadsInserted(int first, int last);
    void threadChanged(int first, int last);
    void scheduleSettle();
    void judgeThread(const QString &threadID);
    void judgeApprovals();
    void clearNewsOfSelectedThread();
    bool isInView(const QString &threadID) const;
    void addNews(const QString &threadID);
    void onActionInvoked(quint64 key, const QString &action);
    void onClosed(quint64 key);

    QPointer<DesktopCodingHarnessViewModel> m_viewModel;
    DesktopNotifier *m_notifier;
    QTimer m_settleTimer;   // restarts on every change
    QTimer m_deadlineTimer; // from the first change of a batch
    bool m_windowActive = false;

    QHash<QString, DesktopTurnActivity> m_activityByThread; // at the last look
    QSet<QString> m_changedThreads;
    bool m_approvalsChanged = false;
    QSet<QString> m_knownApprovals;            // pending approvals already judged
    QHash<QString, quint64> m_keyByApproval;   // shown approval notifications
    QHash<QString, quint64> m_turnKeyByThread; // the thread's latest turn notification
    QHash<quint64, Shown> m_shown;
    QStringList m_news; // in the order the news came
};

} // namespace rirudez
