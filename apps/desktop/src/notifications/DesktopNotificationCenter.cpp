#include "DesktopNotificationCenter.h"

#include "DesktopCodingHarnessViewModel.h"
#include "DesktopNotifier.h"

#include <QAbstractItemModel>
#include <QSet>

using namespace Qt::StringLiterals;

namespace rirudez {

DesktopNotificationCenter::DesktopNotificationCenter(DesktopCodingHarnessViewModel *viewModel,
                                                     DesktopNotifier *notifier,
                                                     std::chrono::milliseconds settleInterval,
                                                     QObject *parent)
    : QObject(parent), m_viewModel(viewModel), m_notifier(notifier) {
    for (QTimer *timer : {&m_settleTimer, &m_deadlineTimer}) {
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, &DesktopNotificationCenter::settle);
    }
    m_settleTimer.setInterval(settleInterval);
    m_deadlineTimer.setInterval(settleInterval * 4);

    for (const DesktopCodingThread &thread : viewModel->threads())
        m_activityByThread.insert(thread.id, DesktopNotificationPolicy::activityOf(thread.session.events));
    for (const DesktopCodingPendingApproval &approval : viewModel->pendingApprovals())
        m_knownApprovals.insert(approval.id);

    auto *threads = qobject_cast<QAbstractItemModel *>(viewModel->threadModel());
    connect(threads, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { threadChanged(first, last); });
    connect(threads, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                threadChanged(topLeft.row(), bottomRight.row());
            });
    connect(threads, &QAbstractItemModel::modelReset, this, [this] {
        if (!m_viewModel)
            return;
        // Threads that went (the desktop changed bridges) have no news and no turn notification any more.
        QSet<QString> present;
        for (const DesktopCodingThread &thread : m_viewModel->threads())
            present.insert(thread.id);
        if (m_news.removeIf([&](const QString &id) { return !present.contains(id); }) > 0)
            Q_EMIT newsChanged();
        for (auto it = m_turnKeyByThread.begin(); it != m_turnKeyByThread.end();) {
            if (present.contains(it.key())) {
                ++it;
                continue;
            }
            m_notifier->close(it.value());
            it = m_turnKeyByThread.erase(it);
        }
        threadChanged(0, int(m_viewModel->threads().size()) - 1);
    });
    connect(viewModel, &DesktopCodingHarnessViewModel::pendingApprovalsChanged, this, [this] {
        m_approvalsChanged = true;
        scheduleSettle();
    });
    connect(viewModel, &DesktopCodingHarnessViewModel::derivedValuesChanged, this,
            &DesktopNotificationCenter::clearNewsOfSelectedThread);

    connect(notifier, &DesktopNotifier::actionInvoked, this, &DesktopNotificationCenter::onActionInvoked);
    connect(notifier, &DesktopNotifier::closed, this, &DesktopNotificationCenter::onClosed);
}

void DesktopNotificationCenter::setWindowActive(bool active) {
    if (m_windowActive == active)
        return;
    m_windowActive = active;
    Q_EMIT windowActiveChanged();
    clearNewsOfSelectedThread();
}

QStringList DesktopNotificationCenter::threadsWithNews() const {
    return m_news;
}

void DesktopNotificationCenter::threadChanged(int first, int last) {
    if (!m_viewModel)
        return;
    const QList<DesktopCodingThread> &threads = m_viewModel->threads();
    for (int row = std::max(first, 0); row <= last && row < threads.size(); ++row)
        m_changedThreads.insert(threads[row].id);
    scheduleSettle();
    clearNewsOfSelectedThread();
}

void DesktopNotificationCenter::scheduleSettle() {
    m_settleTimer.start();
    if (!m_deadlineTimer.isActive())
        m_deadlineTimer.start();
}

void DesktopNotificationCenter::settle() {
    m_settleTimer.stop();
    m_deadlineTimer.stop();
    if (!m_viewModel)
        return;
    const QSet<QString> changed = std::exchange(m_changedThreads, {});
    for (const QString &threadID : changed)
        judgeThread(threadID);
    if (std::exchange(m_approvalsChanged, false))
        judgeApprovals();
}

void DesktopNotificationCenter::judgeThread(const QString &threadID) {
    const DesktopCodingThread *thread = nullptr;
    for (const DesktopCodingThread &candidate : m_viewModel->threads())
        if (candidate.id == threadID) {
            thread = &candidate;
            break;
        }
    if (!thread)
        return;
    const DesktopTurnActivity now = DesktopNotificationPolicy::activityOf(thread->session.events);
    const DesktopTurnActivity before = m_activityByThread.value(threadID, DesktopTurnActivity::none);
    m_activityByThread.insert(threadID, now);
    const std::optional<DesktopNotificationReason> reason = DesktopNotificationPolicy::turnEnded(before, now);
    if (!reason)
        return;
    addNews(threadID);
    if (isInView(threadID))
        return;
    // One turn notification per thread: a later one takes the place of the earlier.
    const quint64 replacing = m_turnKeyByThread.value(threadID, 0);
    m_shown.remove(replacing);
    const quint64 key =
        m_notifier->show(DesktopNotificationPolicy::turnNotification(*reason, *thread), replacing);
    m_turnKeyByThread.insert(threadID, key);
    m_shown.insert(key, Shown{threadID, QString()});
}

void DesktopNotificationCenter::judgeApprovals() {
    QSet<QString> pending;
    for (const DesktopCodingPendingApproval &approval : m_viewModel->pendingApprovals()) {
        pending.insert(approval.id);
        if (m_knownApprovals.contains(approval.id))
            continue;
        m_knownApprovals.insert(approval.id);
        addNews(approval.threadID);
        if (isInView(approval.threadID))
            continue;
        const DesktopCodingThread *thread = nullptr;
        for (const DesktopCodingThread &candidate : m_viewModel->threads())
            if (candidate.id == approval.threadID)
                thread = &candidate;
        if (!thread)
            continue;
        const quint64 key = m_notifier->show(DesktopNotificationPolicy::approvalWaiting(*thread, approval));
        m_keyByApproval.insert(approval.id, key);
        m_shown.insert(key, Shown{approval.threadID, approval.id});
    }
    // An approval answered here or elsewhere no longer needs its notification.
    for (auto it = m_keyByApproval.begin(); it != m_keyByApproval.end();) {
        if (pending.contains(it.key())) {
            ++it;
            continue;
        }
        m_notifier->close(it.value());
        it = m_keyByApproval.erase(it);
    }
    m_knownApprovals.intersect(pending);
}

bool DesktopNotificationCenter::isInView(const QString &threadID) const {
    const DesktopCodingThread *selected = m_viewModel ? m_viewModel->selectedThread() : nullptr;
    return DesktopNotificationPolicy::isInView(selected && selected->id == threadID, m_windowActive);
}

void DesktopNotificationCenter::addNews(const QString &threadID) {
    // The selected thread of an inactive window needs no badge: it is what the user comes back to.
    const DesktopCodingThread *selected = m_viewModel ? m_viewModel->selectedThread() : nullptr;
    if ((selected && selected->id == threadID) || m_news.contains(threadID))
        return;
    m_news.append(threadID);
    Q_EMIT newsChanged();
}

void DesktopNotificationCenter::clearNewsOfSelectedThread() {
    if (!m_windowActive || !m_viewModel)
        return;
    const DesktopCodingThread *selected = m_viewModel->selectedThread();
    if (!selected)
        return;
    if (m_news.removeOne(selected->id))
        Q_EMIT newsChanged();
    // What the user now sees needs no turn notification any more.
    if (const auto key = m_turnKeyByThread.take(selected->id))
        m_notifier->close(key);
}

void DesktopNotificationCenter::onActionInvoked(quint64 key, const QString &action) {
    const auto found = m_shown.constFind(key);
    if (found == m_shown.constEnd() || !m_viewModel)
        return;
    const Shown shown = *found;
    if (action == DesktopNotifier::approveAction || action == DesktopNotifier::denyAction) {
        if (!shown.approvalID.isEmpty())
            m_viewModel->requestRespondToApproval(
                shown.approvalID, action == DesktopNotifier::approveAction ? u"approved"_s : u"denied"_s);
        return;
    }
    // A click (or any other action) opens the thread.
    m_viewModel->selectThread(shown.threadID);
    m_viewModel->requestSubscribeToSelectedBridgeSession();
    Q_EMIT activateRequested();
}

void DesktopNotificationCenter::onClosed(quint64 key) {
    const Shown shown = m_shown.take(key);
    if (!shown.approvalID.isEmpty() && m_keyByApproval.value(shown.approvalID) == key)
        m_keyByApproval.remove(shown.approvalID);
    if (shown.approvalID.isEmpty() && m_turnKeyByThread.value(shown.threadID) == key)
        m_turnKeyByThread.remove(shown.threadID);
}

} // namespace rirudez
