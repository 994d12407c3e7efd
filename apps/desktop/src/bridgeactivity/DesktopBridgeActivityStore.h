#pragma once

// Keeps the bridge activity log in one JSON file (the stored form of DesktopBridgeActivityLog) in the
// application's data directory.
//
// - Every append (of one entry or of several) rewrites the file atomically (QSaveFile): a crash leaves the
// old
//   file or the new one.
// - The log keeps the newest `capacity` entries (500 by default, about 100 KB on disk); older ones drop off.
// - A file that cannot be read or decoded (or is larger than 4 MiB) is renamed to
//   "<name>.damaged-<UTC time>" beside it, so nothing is lost, and a new empty log starts. `notice` then
//   tells the user once, until dismissNotice(); the next start finds no damaged file and says nothing.
// - An empty file path keeps the log in memory only.
// - When writing fails, the entries stay in memory, `notice` says so, and the next append tries again.

#include "DesktopBridgeActivityLog.h"

#include <QObject>
#include <QString>

namespace rirudez {

class DesktopBridgeActivityStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)

public:
    static constexpr qsizetype defaultCapacity = 500;
    static constexpr qint64 maximumFileBytes = 4 * 1024 * 1024;

    explicit DesktopBridgeActivityStore(QString filePath, qsizetype capacity = defaultCapacity,
                                        QObject *parent = nullptr);

    // "<application data directory>/bridge-activity.json".
    static QString defaultFilePath();

    // Reads the file (once; later calls keep the log in memory). A missing file is an empty log.
    void load();
    const DesktopBridgeActivityLog &log() const { return m_log; }
    // Adds an entry unless one with the same id is already kept; returns whether it was added.
    bool append(const DesktopBridgeActivity &activity);
    // Adds the entries, in order, whose ids are not kept yet (nor earlier in the list), with one write of the
    // file and one logChanged; returns how many were added.
    qsizetype append(const QList<DesktopBridgeActivity> &activities);

    const QString &filePath() const { return m_filePath; }
    // Where a damaged file was moved to, when that happened in this run.
    const QString &setAsidePath() const { return m_setAsidePath; }
    // What the user should hear about the file ("" when nothing).
    const QString &notice() const { return m_notice; }
    Q_INVOKABLE void dismissNotice();

Q_SIGNALS:
    void logChanged();
    void noticeChanged();

private:
    void setAside(const QString &reason);
    bool save();
    void setNotice(const QString &notice);

    QString m_filePath;
    qsizetype m_capacity;
    bool m_loaded = false;
    DesktopBridgeActivityLog m_log;
    QString m_setAsidePath;
    QString m_notice;
};

} // namespace rirudez
