#pragma once

// A thread list for tests and benchmarks of models that sit on top of the coding view model's thread list:
// threads held here, one row each, with the roles the rail reads. Changing a thread announces its row.

#include "DesktopCodingHarnessModels.h"

#include <QAbstractListModel>
#include <QList>

namespace rirudez::testing {

class ThreadListFixture : public QAbstractListModel {
public:
    enum Role { ThreadIDRole = Qt::UserRole + 1, TitleRole };

    int rowCount(const QModelIndex &parent = {}) const override {
        return parent.isValid() ? 0 : int(threads.size());
    }
    QVariant data(const QModelIndex &index, int role) const override {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        const DesktopCodingThread &thread = threads[index.row()];
        return role == ThreadIDRole ? QVariant(thread.id)
               : role == TitleRole  ? QVariant(thread.title)
                                    : QVariant();
    }
    QHash<int, QByteArray> roleNames() const override {
        return {{ThreadIDRole, "threadID"}, {TitleRole, "title"}};
    }

    const DesktopCodingThread *threadAt(int row) const {
        return row >= 0 && row < threads.size() ? &threads[row] : nullptr;
    }
    void append(DesktopCodingThread thread) {
        beginInsertRows({}, int(threads.size()), int(threads.size()));
        threads.append(std::move(thread));
        endInsertRows();
    }
    // Changes a thread in place and announces it.
    template <typename Change>
    void change(int row, Change &&change) {
        change(threads[row]);
        Q_EMIT dataChanged(index(row), index(row));
    }

    QList<DesktopCodingThread> threads;
};

// A thread with these events (kind, summary, optional detail), ids made from `id`.
inline DesktopCodingThread makeThread(const QString &id, const QString &title,
                                      QList<DesktopCodingEvent> events = {}) {
    DesktopCodingThread thread;
    thread.id = id;
    thread.title = title;
    thread.session.id = id;
    thread.session.events = std::move(events);
    return thread;
}

} // namespace rirudez::testing
