#pragma once

// What the local models screen shows about a local control plane server, made from the loose values of its
// health document.

#include <QString>
#include <QStringList>

#include <optional>

namespace rirudez {

struct LocalServerHealth;

struct LocalHealthSummary {
    enum class Status { unknown, reachable, pairingRequired };

    Status status = Status::unknown;
    std::optional<QString> service;
    std::optional<QString> providerIdentifier;
    bool providerAuthenticated = false;
    std::optional<QString> providerAccountLabel;
    std::optional<QString> pairingCode;
    std::optional<QString> version;
    QStringList capabilities;

    // The server answered and asks for pairing first.
    bool requiresPairing() const { return status == Status::pairingRequired; }
    // The server answered with a healthy status (whether or not it wants pairing).
    bool isReachable() const { return status != Status::unknown; }
    // Usable now: reachable without pairing, and its provider's account is signed in.
    bool isReady() const { return status == Status::reachable && providerAuthenticated; }

    // Rules: a status other than "ok" (ignoring case and surrounding spaces), or none, is unknown: the server
    // is not (yet) usable whatever else it says. An "ok" server with requires-pairing true needs pairing,
    // otherwise it is reachable. Texts are trimmed and blank ones count as absent; absent flags are false and
    // absent capabilities empty.
    static LocalHealthSummary
    make(const std::optional<QString> &statusString = {}, const std::optional<QString> &service = {},
         std::optional<bool> requiresPairing = {}, const std::optional<QString> &pairingCode = {},
         const std::optional<QString> &provider = {}, std::optional<bool> providerAuthenticated = {},
         const std::optional<QString> &providerAccountLabel = {}, const std::optional<QString> &version = {},
         const std::optional<QStringList> &capabilities = {});

    bool operator==(const LocalHealthSummary &) const = default;
};

} // namespace rirudez
