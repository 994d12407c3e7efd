#pragma once

// Where the shell's library comes from.

#include "DesktopLibraryEntry.h"

#include <QCoroTask>

namespace rirudez {

class DesktopLibraryReadModel {
public:
    virtual ~DesktopLibraryReadModel() = default;
    // The library as it is now. Throws (any std::exception) when it cannot be read.
    virtual QCoro::Task<DesktopLibraryIndex> loadLibraryIndex() = 0;
};

// A fixed snapshot.
class InMemoryDesktopLibraryReadModel : public DesktopLibraryReadModel {
public:
    explicit InMemoryDesktopLibraryReadModel(DesktopLibraryIndex snapshot);
    InMemoryDesktopLibraryReadModel(QList<DesktopLibraryEntry> entries,
                                    std::optional<QString> currentEntryID);

    // Three notebooks of different ages and kinds, the newest current.
    static InMemoryDesktopLibraryReadModel sample(const QDateTime &now = QDateTime::currentDateTimeUtc());

    QCoro::Task<DesktopLibraryIndex> loadLibraryIndex() override;

private:
    DesktopLibraryIndex m_snapshot;
};

} // namespace rirudez
