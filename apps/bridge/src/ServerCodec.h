#pragma once

// The bridge service's side of the wire: it decodes what clients send and encodes what it sends back,
// by the same JSON rules as the client's codecs in the bridge kit (same keys, optional members
// omitted, unknown enumeration strings refused except error codes). Decoders never throw.

#include "rirudez/bridgekit/BridgeMessages.h"

#include <nlohmann/json_fwd.hpp>

namespace rirudez {

// Decodes one client frame from the bytes of a text or binary WebSocket message. An unknown "type"
// fails with the description "unknown client frame type " followed by the received string.
Expected<ClientMessage, DecodingError> decodeClientMessage(QByteArrayView bytes);

// The compact UTF-8 JSON text of one frame for the client.
QByteArray encodeBridgeMessage(const BridgeMessage &message);

// The body of GET /health.
QByteArray encodeBridgeHealth(const BridgeHealth &health);

// A session summary on its own (e.g. a session's stored record), and back.
QByteArray encodeRepoSessionSummary(const RepoSessionSummary &session);
Expected<RepoSessionSummary, DecodingError> decodeRepoSessionSummary(QByteArrayView bytes);

// The nlohmann forms behind the functions above, for code that already holds a JSON value. from_json
// throws WireFormatError (see BridgeJson.h) on a malformed frame.
void from_json(const nlohmann::json &json, ClientMessage &message);
void to_json(nlohmann::json &json, const BridgeMessage &message);

} // namespace rirudez
