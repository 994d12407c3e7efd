#include "DesktopLibraryReadModel.h"

using namespace Qt::StringLiterals;

namespace rirudez {

InMemoryDesktopLibraryReadModel::InMemoryDesktopLibraryReadModel(DesktopLibraryIndex snapshot)
    : m_snapshot(std::move(snapshot)) {}

InMemoryDesktopLibraryReadModel::InMemoryDesktopLibraryReadModel(QList<DesktopLibraryEntry> entries,
                                                                 std::optional<QString> currentEntryID)
    : m_snapshot{std::move(currentEntryID), std::move(entries)} {}

InMemoryDesktopLibraryReadModel InMemoryDesktopLibraryReadModel::sample(const QDateTime &now) {
    return InMemoryDesktopLibraryReadModel(
        {DesktopLibraryEntry{u"sample-notes"_s, u"Meeting notes"_s, now.addSecs(-300),
                             DesktopLibraryBackendKind::rust, u"Lined"_s},
         DesktopLibraryEntry{u"sample-sketch"_s, u"Sketches"_s, now.addDays(-1).addSecs(-60),
                             DesktopLibraryBackendKind::legacy, std::nullopt},
         DesktopLibraryEntry{u"sample-plan"_s, u"Project plan"_s, now.addDays(-12),
                             DesktopLibraryBackendKind::rust, u"Grid"_s}},
        u"sample-notes"_s);
}

QCoro::Task<DesktopLibraryIndex> InMemoryDesktopLibraryReadModel::loadLibraryIndex() {
    DesktopLibraryIndex snapshot = m_snapshot; // co_return moves from what it is given
    co_return snapshot;
}

} // namespace rirudez
