#pragma once
// Small readers of the JSON lines the agent programs print, shared by the claude and codex turns.

#include "rirudez/bridgekit/BridgeJson.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace rirudez::server::agentfields {

inline QString text(const Json &object, const char *key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? wire::toQString(it->get<std::string>()) : QString();
}

inline std::optional<std::uint64_t> count(const Json &object, const char *key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned())
        return std::nullopt;
    return it->get<std::uint64_t>();
}

inline QString shortened(QString value, int maxLength = 120) {
    value = value.simplified();
    if (value.size() > maxLength)
        value = value.left(maxLength - 3) + QStringLiteral("...");
    return value;
}

} // namespace rirudez::server::agentfields
