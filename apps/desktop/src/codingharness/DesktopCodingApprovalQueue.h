#pragma once

// The approval requests waiting for the user, in arrival order. Announces every row it adds or removes; the
// pending-approval list model observes it.

#include "DesktopCodingHarnessModels.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace rirudez {

class DesktopCodingApprovalQueue : public QObject {
    Q_OBJECT
public:
    explicit DesktopCodingApprovalQueue(QObject *parent = nullptr);

    const QList<DesktopCodingPendingApproval> &approvals() const { return m_approvals; }
    // Appends unless an approval with the same id is already waiting.
    void add(DesktopCodingPendingApproval approval);
    // Removes every approval of that session with that bridge approval id.
    void remove(const QString &sessionID, const QString &approvalID);
    void clear();
    std::optional<DesktopCodingPendingApproval> find(const QString &id) const;
    // The first approval shown by that event.
    std::optional<DesktopCodingPendingApproval> forEvent(const QString &eventID) const;

Q_SIGNALS:
    void aboutToAppend(qsizetype row);
    void appended();
    void aboutToRemove(qsizetype row);
    void removed();
    void changed();

private:
    QList<DesktopCodingPendingApproval> m_approvals;
};

} // namespace rirudez
