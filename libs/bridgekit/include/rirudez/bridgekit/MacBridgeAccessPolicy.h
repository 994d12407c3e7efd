#pragma once

// Which access modes a project offers, and which one a request may use. Pure functions, no state.

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace rirudez {

struct MacBridgeAccessPolicy {
    MacBridgeAccessPolicy() = delete;

    // The advertised strings that name an access mode (trimmed, case-insensitive), in the bridge's order,
    // first occurrence wins, no duplicates. May be empty.
    static QList<RepoAccessMode> availableModes(const QStringList &advertised);

    // The available mode with the highest rank, or nothing when none is available.
    static std::optional<RepoAccessMode> strongestSandbox(const QStringList &advertised);

    // The mode a request may use: the requested one when available; `ask` when nothing is available;
    // else the project's default (trimmed, case-insensitive) when it names an available mode; else the first
    // available mode in the bridge's order.
    static RepoAccessMode resolve(RepoAccessMode requested, const QStringList &advertised,
                                  const std::optional<QString> &default_);
};

} // namespace rirudez
