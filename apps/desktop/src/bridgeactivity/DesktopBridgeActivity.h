#pragma once

// One entry of the bridge activity log: what the bridge did, for which project, agent and model, and when.

#include "DesktopBridgeActivityKind.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace rirudez {

struct DesktopBridgeActivity {
    QString id;
    DesktopBridgeActivityKind kind = DesktopBridgeActivityKind::working;
    QString summary;
    std::optional<QString> projectID;
    std::optional<QString> agent;
    std::optional<QString> model;
    QDateTime createdAt; // UTC; stored with millisecond precision

    // The trimmed summary, or the kind's fallback summary when it is blank.
    QString displayTitle() const;
    // Project, agent and model that are present and not blank, joined with " · "; "" when none is.
    QString contextLabel() const;

    // The trimmed text, or nothing when it is absent or blank.
    static std::optional<QString> cleanOptional(const std::optional<QString> &text);

    bool operator==(const DesktopBridgeActivity &) const = default;
};

} // namespace rirudez
