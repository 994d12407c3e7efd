#include "DesktopBridgeActivityStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace rirudez {

DesktopBridgeActivityStore::DesktopBridgeActivityStore(QString filePath, qsizetype capacity, QObject *parent)
    : QObject(parent), m_filePath(std::move(filePath)), m_capacity(std::max<qsizetype>(capacity, 1)) {}

QString DesktopBridgeActivityStore::defaultFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u"/bridge-activity.json"_s;
}

void DesktopBridgeActivityStore::load() {
    if (m_loaded)
        return;
    m_loaded = true;
    if (m_filePath.isEmpty())
        return; // kept in memory only
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (file.size() > maximumFileBytes) {
        setAside(u"it is larger than 4 MiB"_s);
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        setAside(file.errorString());
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    Expected<DesktopBridgeActivityLog, DecodingError> decoded = decodeDesktopBridgeActivityLog(bytes);
    if (!decoded) {
        setAside(decoded.error().description);
        return;
    }
    m_log = std::move(decoded).value();
    if (m_log.entries.size() > m_capacity)
        m_log.entries.remove(0, m_log.entries.size() - m_capacity);
    Q_EMIT logChanged();
}

void DesktopBridgeActivityStore::setAside(const QString &reason) {
    const QString stamp = QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd-HHmmss"_s);
    QString target = m_filePath + u".damaged-"_s + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_filePath + u".damaged-"_s + stamp + u'-' + QString::number(n);
    if (QFile::rename(m_filePath, target)) {
        m_setAsidePath = target;
        setNotice(u"The bridge activity log could not be read (%1). It was kept as %2 and a new log was "
                  "started."_s.arg(reason, QFileInfo(target).fileName()));
    } else {
        // Leave the file where it is; the first save would replace it, so keep a copy instead.
        if (QFile::copy(m_filePath, target))
            m_setAsidePath = target;
        setNotice(u"The bridge activity log could not be read (%1). A new log was started; the old file "
                  "is at %2."_s.arg(reason, m_setAsidePath.isEmpty() ? m_filePath : m_setAsidePath));
    }
}

bool DesktopBridgeActivityStore::append(const DesktopBridgeActivity &activity) {
    return append(QList<DesktopBridgeActivity>{activity}) > 0;
}

qsizetype DesktopBridgeActivityStore::append(const QList<DesktopBridgeActivity> &activities) {
    load();
    QSet<QString> kept;
    kept.reserve(m_log.entries.size() + activities.size());
    for (const DesktopBridgeActivity &entry : std::as_const(m_log.entries))
        kept.insert(entry.id);
    qsizetype added = 0;
    for (const DesktopBridgeActivity &activity : activities) {
        if (kept.contains(activity.id))
            continue;
        kept.insert(activity.id);
        m_log.entries.append(activity);
        ++added;
    }
    if (added == 0)
        return 0;
    if (m_log.entries.size() > m_capacity)
        m_log.entries.remove(0, m_log.entries.size() - m_capacity);
    save();
    Q_EMIT logChanged();
    return added;
}

bool DesktopBridgeActivityStore::save() {
    if (m_filePath.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        setNotice(u"The bridge activity log could not be saved: %1"_s.arg(file.errorString()));
        return false;
    }
    const QByteArray bytes = encodeDesktopBridgeActivityLog(m_log);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        setNotice(u"The bridge activity log could not be saved: %1"_s.arg(file.errorString()));
        return false;
    }
    return true;
}

void DesktopBridgeActivityStore::setNotice(const QString &notice) {
    if (m_notice == notice)
        return;
    m_notice = notice;
    Q_EMIT noticeChanged();
}

void DesktopBridgeActivityStore::dismissNotice() {
    setNotice(QString());
}

} // namespace rirudez
