#pragma once

// The notebooks of the shell's library.
//
// Rules of the library:
// - `displayName` is the trimmed name, or "Untitled" when it is blank.
// - `relativeDateLabel(now:)`: "Just now" under a minute (and for times after `now`), "N min ago" under an
//   hour, "N h ago" under a day, "Yesterday" under two days, "N days ago" under a week, otherwise the date as
//   "d MMM yyyy" in English ("6 Dec 2026"), so the label does not depend on the machine's locale.
// - `secondaryLabel(now:)`: the relative date, followed by " · " and the template title when it is not blank.
// - `sortedEntries`: most recently updated first; equal times by display name (case-insensitive), then id.

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace rirudez {

enum class DesktopLibraryBackendKind { legacy, rust };
inline constexpr std::array<DesktopLibraryBackendKind, 2> allDesktopLibraryBackendKinds{
    DesktopLibraryBackendKind::legacy, DesktopLibraryBackendKind::rust};
// "legacy", "rust".
QString rawValue(DesktopLibraryBackendKind kind);
std::optional<DesktopLibraryBackendKind> desktopLibraryBackendKind(const QString &raw);

struct DesktopLibraryEntry {
    QString id;
    QString name;
    QDateTime updatedAt;
    DesktopLibraryBackendKind backendKind = DesktopLibraryBackendKind::legacy;
    std::optional<QString> templateTitle;

    QString displayName() const;
    QString relativeDateLabel(const QDateTime &now) const;
    QString secondaryLabel(const QDateTime &now) const;

    bool operator==(const DesktopLibraryEntry &) const = default;
};

size_t qHash(const DesktopLibraryEntry &entry, size_t seed = 0);

struct DesktopLibraryIndex {
    std::optional<QString> currentEntryID;
    QList<DesktopLibraryEntry> entries;

    QList<DesktopLibraryEntry> sortedEntries() const;

    bool operator==(const DesktopLibraryIndex &) const = default;
};

} // namespace rirudez
