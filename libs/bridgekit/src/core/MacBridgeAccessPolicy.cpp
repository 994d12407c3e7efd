// Mapping advertised access-mode strings to modes and choosing the mode a request may use.
#include "rirudez/bridgekit/MacBridgeAccessPolicy.h"

#include <algorithm>

namespace rirudez {

namespace {

std::optional<RepoAccessMode> modeNamed(const QString &text) {
    return fromRaw<RepoAccessMode>(text.trimmed().toLower());
}

} // namespace

QList<RepoAccessMode> MacBridgeAccessPolicy::availableModes(const QStringList &advertised) {
    QList<RepoAccessMode> modes;
    for (const QString &text : advertised) {
        const auto mode = modeNamed(text);
        if (mode && !modes.contains(*mode))
            modes.append(*mode);
    }
    return modes;
}

std::optional<RepoAccessMode> MacBridgeAccessPolicy::strongestSandbox(const QStringList &advertised) {
    const QList<RepoAccessMode> modes = availableModes(advertised);
    if (modes.isEmpty())
        return std::nullopt;
    return *std::max_element(modes.begin(), modes.end(),
                             [](RepoAccessMode a, RepoAccessMode b) { return rank(a) < rank(b); });
}

RepoAccessMode MacBridgeAccessPolicy::resolve(RepoAccessMode requested, const QStringList &advertised,
                                              const std::optional<QString> &default_) {
    const QList<RepoAccessMode> modes = availableModes(advertised);
    if (modes.contains(requested))
        return requested;
    if (modes.isEmpty())
        return RepoAccessMode::ask;
    if (default_) {
        if (const auto fallback = modeNamed(*default_); fallback && modes.contains(*fallback))
            return *fallback;
    }
    return modes.first();
}

} // namespace rirudez
