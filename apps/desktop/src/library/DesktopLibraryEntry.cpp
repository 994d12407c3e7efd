#include "DesktopLibraryEntry.h"

#include <QHashFunctions>
#include <QLocale>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace rirudez {

QString rawValue(DesktopLibraryBackendKind kind) {
    return kind == DesktopLibraryBackendKind::legacy ? u"legacy"_s : u"rust"_s;
}

std::optional<DesktopLibraryBackendKind> desktopLibraryBackendKind(const QString &raw) {
    for (DesktopLibraryBackendKind kind : allDesktopLibraryBackendKinds)
        if (rawValue(kind) == raw)
            return kind;
    return std::nullopt;
}

QString DesktopLibraryEntry::displayName() const {
    const QString trimmed = name.trimmed();
    return trimmed.isEmpty() ? u"Untitled"_s : trimmed;
}

QString DesktopLibraryEntry::relativeDateLabel(const QDateTime &now) const {
    const qint64 seconds = updatedAt.secsTo(now);
    if (seconds < 60)
        return u"Just now"_s;
    if (seconds < 3600)
        return u"%1 min ago"_s.arg(seconds / 60);
    if (seconds < 86400)
        return u"%1 h ago"_s.arg(seconds / 3600);
    if (seconds < 2 * 86400)
        return u"Yesterday"_s;
    if (seconds < 7 * 86400)
        return u"%1 days ago"_s.arg(seconds / 86400);
    return QLocale(QLocale::English).toString(updatedAt.toLocalTime().date(), u"d MMM yyyy"_s);
}

QString DesktopLibraryEntry::secondaryLabel(const QDateTime &now) const {
    QString label = relativeDateLabel(now);
    if (templateTitle && !templateTitle->trimmed().isEmpty())
        label += u" · "_s + templateTitle->trimmed();
    return label;
}

size_t qHash(const DesktopLibraryEntry &entry, size_t seed) {
    return qHashMulti(seed, entry.id, entry.name, entry.updatedAt, int(entry.backendKind),
                      entry.templateTitle.value_or(QString()), entry.templateTitle.has_value());
}

QList<DesktopLibraryEntry> DesktopLibraryIndex::sortedEntries() const {
    QList<DesktopLibraryEntry> sorted = entries;
    std::sort(sorted.begin(), sorted.end(), [](const DesktopLibraryEntry &a, const DesktopLibraryEntry &b) {
        if (a.updatedAt != b.updatedAt)
            return a.updatedAt > b.updatedAt;
        const int byName = a.displayName().compare(b.displayName(), Qt::CaseInsensitive);
        if (byName != 0)
            return byName < 0;
        return a.id < b.id;
    });
    return sorted;
}

} // namespace rirudez
