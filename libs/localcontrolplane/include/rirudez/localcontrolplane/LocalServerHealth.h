#pragma once

// The local control plane's health document (GET base URL + "/health") and the pairing code answer, with
// their JSON forms.
//
// Decoding: "status" and "service" are required strings; every other key may be missing or null (absent).
// Unknown keys are ignored. Integers are signed 64-bit: fractions and numbers outside that range are type
// mismatches. A "tablet_state" outside its three raw values fails the whole document (dataCorrupted).
// Encoding writes the keys in the order of the fields below and leaves absent members out (no null).

#include "rirudez/localcontrolplane/CompanionProvider.h"
#include "rirudez/localcontrolplane/JsonDecodingError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace rirudez {

struct LocalServerHealth {
    QString status;                                  // "status"
    QString service;                                 // "service"
    std::optional<bool> requiresPairing;             // "requires_pairing"
    std::optional<QString> pairingCode;              // "pairing_code"
    std::optional<QString> provider;                 // "provider", free text (not a CompanionProvider)
    std::optional<bool> providerAuthenticated;       // "provider_authenticated"
    std::optional<QString> providerAccountLabel;     // "provider_account_label"
    std::optional<CompanionTabletState> tabletState; // "tablet_state"
    std::optional<bool> tabletConnected;             // "tablet_connected"
    std::optional<std::int64_t> activeClientsCount;  // "active_clients_count"
    std::optional<QString> lastClientSeenAt;         // "last_client_seen_at", kept as text
    std::optional<QString> version;                  // "version"
    std::optional<QStringList> capabilities;         // "capabilities"
    std::optional<std::int64_t> notebooksCount;      // "notebooks_count"
    std::optional<std::int64_t> contextFilesCount;   // "context_files_count"

    static DecodeResult<LocalServerHealth> decode(QByteArrayView json);
    QByteArray encode() const;

    bool operator==(const LocalServerHealth &) const = default;
};

// The answer that carries a pairing code: {"pairing_code": "..."}, the key required.
struct PairingCodeResponse {
    QString pairingCode;

    static DecodeResult<PairingCodeResponse> decode(QByteArrayView json);
    QByteArray encode() const;

    bool operator==(const PairingCodeResponse &) const = default;
};

// The JSON forms of the two enumerations that travel on their own: a JSON string holding the raw value.
// Any other string is dataCorrupted; any other JSON value a type mismatch.
DecodeResult<CompanionTabletState> decodeCompanionTabletState(QByteArrayView json);
QByteArray encode(CompanionTabletState state);
DecodeResult<ServerConnectionMode> decodeServerConnectionMode(QByteArrayView json);
QByteArray encode(ServerConnectionMode mode);

} // namespace rirudez
