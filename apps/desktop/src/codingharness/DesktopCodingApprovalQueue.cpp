#include "DesktopCodingApprovalQueue.h"

#include <algorithm>

namespace rirudez {

DesktopCodingApprovalQueue::DesktopCodingApprovalQueue(QObject *parent) : QObject(parent) {}

void DesktopCodingApprovalQueue::add(DesktopCodingPendingApproval approval) {
    if (find(approval.id))
        return;
    Q_EMIT aboutToAppend(m_approvals.size());
    m_approvals.append(std::move(approval));
    Q_EMIT appended();
    Q_EMIT changed();
}

void DesktopCodingApprovalQueue::remove(const QString &sessionID, const QString &approvalID) {
    bool removedAny = false;
    for (qsizetype i = m_approvals.size() - 1; i >= 0; --i) {
        const DesktopCodingPendingApproval &approval = m_approvals[i];
        if (approval.sessionID == sessionID && approval.approvalID == approvalID) {
            Q_EMIT aboutToRemove(i);
            m_approvals.removeAt(i);
            Q_EMIT removed();
            removedAny = true;
        }
    }
    if (removedAny)
        Q_EMIT changed();
}

void DesktopCodingApprovalQueue::clear() {
    if (m_approvals.isEmpty())
        return;
    for (qsizetype i = m_approvals.size() - 1; i >= 0; --i) {
        Q_EMIT aboutToRemove(i);
        m_approvals.removeAt(i);
        Q_EMIT removed();
    }
    Q_EMIT changed();
}

std::optional<DesktopCodingPendingApproval> DesktopCodingApprovalQueue::find(const QString &id) const {
    const auto found = std::find_if(m_approvals.begin(), m_approvals.end(),
                                    [&](const DesktopCodingPendingApproval &p) { return p.id == id; });
    return found == m_approvals.end() ? std::nullopt : std::optional(*found);
}

std::optional<DesktopCodingPendingApproval>
DesktopCodingApprovalQueue::forEvent(const QString &eventID) const {
    const auto found =
        std::find_if(m_approvals.begin(), m_approvals.end(),
                     [&](const DesktopCodingPendingApproval &p) { return p.eventID == eventID; });
    return found == m_approvals.end() ? std::nullopt : std::optional(*found);
}

} // namespace rirudez
