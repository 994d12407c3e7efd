#pragma once

// The bridge activity log and its stored JSON form:
//   {"entries": [{"id", "kind", "summary", "projectID"?, "agent"?, "model"?, "createdAt"}, ...]}
// Entries are kept oldest first. Absent optional members are left out; on reading, a missing or null
// optional member is absent, unknown keys are ignored, and a missing "entries", a missing required member or
// an unknown kind fails. "createdAt" is an ISO 8601 UTC text with milliseconds ("2026-12-06T00:15:02.123Z"),
// written and read the same way.

#include "DesktopBridgeActivity.h"

#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace rirudez {

struct DesktopBridgeActivityLog {
    QList<DesktopBridgeActivity> entries; // oldest first

    bool isEmpty() const { return entries.isEmpty(); }
    // The newest entry.
    std::optional<DesktopBridgeActivity> latest() const;
    // The newest `limit` entries, newest first (none for a limit of 0 or less).
    QList<DesktopBridgeActivity> recentEntries(qsizetype limit) const;
    // Appends an entry and drops the oldest ones beyond `capacity`.
    void append(DesktopBridgeActivity activity, qsizetype capacity);
    bool contains(const QString &id) const;

    bool operator==(const DesktopBridgeActivityLog &) const = default;
};

QByteArray encodeDesktopBridgeActivityLog(const DesktopBridgeActivityLog &log);
Expected<DesktopBridgeActivityLog, DecodingError> decodeDesktopBridgeActivityLog(QByteArrayView bytes);

} // namespace rirudez
