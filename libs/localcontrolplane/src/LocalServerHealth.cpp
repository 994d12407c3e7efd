// JSON forms of the health document, the pairing code answer and the enumerations that travel alone.
#include "rirudez/localcontrolplane/LocalServerHealth.h"

#include <nlohmann/json.hpp>

#include <limits>
#include <string>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;
using Kind = JsonDecodingError::Kind;

QString keyName(const char *key) {
    return QString::fromUtf8(key);
}

QString toQString(const std::string &utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

[[noreturn]] void mismatch(const char *key, const char *expected, const Json &found) {
    throw JsonDecodingError(
        Kind::typeMismatch, keyName(key),
        u"expected %1, found %2"_s.arg(QLatin1String(expected), QLatin1String(found.type_name())));
}

// nlohmann parses and destroys without recursion, so deep nesting under an ignored key costs memory in
// proportion to its size only (a health answer is limited to 1 MiB by the client).
Json parse(QByteArrayView bytes) {
    Json json = Json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded())
        throw JsonDecodingError(Kind::dataCorrupted, QString(), u"the data is not valid JSON"_s);
    return json;
}

void expectObject(const Json &json) {
    if (!json.is_object())
        mismatch("", "object", json);
}

QString asString(const Json &json, const char *key) {
    if (!json.is_string())
        mismatch(key, "string", json);
    return toQString(json.get_ref<const std::string &>());
}

bool asBool(const Json &json, const char *key) {
    if (!json.is_boolean())
        mismatch(key, "boolean", json);
    return json.get<bool>();
}

// A signed 64-bit integer: nlohmann keeps integers exactly as signed or unsigned 64-bit; fractions and
// integers beyond 2^64 arrive as doubles.
std::int64_t asInt64(const Json &json, const char *key) {
    if (json.is_number_unsigned()) {
        const auto value = json.get<std::uint64_t>();
        if (value > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            throw JsonDecodingError(Kind::typeMismatch, keyName(key),
                                    u"number does not fit a signed 64-bit integer"_s);
        return std::int64_t(value);
    }
    if (json.is_number_integer())
        return json.get<std::int64_t>();
    mismatch(key, "signed 64-bit integer", json);
}

QStringList asStringList(const Json &json, const char *key) {
    if (!json.is_array())
        mismatch(key, "array", json);
    QStringList list;
    list.reserve(qsizetype(json.size()));
    for (const Json &element : json)
        list.append(asString(element, key));
    return list;
}

CompanionTabletState asTabletState(const Json &json, const char *key) {
    const QString raw = asString(json, key);
    if (const auto state = companionTabletStateFromRaw(raw))
        return *state;
    throw JsonDecodingError(Kind::dataCorrupted, keyName(key), u"not a tablet state: %1"_s.arg(raw));
}

const Json &required(const Json &object, const char *key) {
    const auto it = object.find(key);
    if (it == object.end())
        throw JsonDecodingError(Kind::keyNotFound, keyName(key), u"no value for the key"_s);
    return *it;
}

template <typename T, typename Convert>
std::optional<T> optional(const Json &object, const char *key, Convert convert) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    return convert(*it, key);
}

std::string toUtf8(const QString &text) {
    return text.toStdString();
}

OrderedJson toJson(const QStringList &list) {
    OrderedJson array = OrderedJson::array();
    for (const QString &text : list)
        array.push_back(toUtf8(text));
    return array;
}

template <typename T>
void put(OrderedJson &object, const char *key, const std::optional<T> &value) {
    if (!value)
        return;
    if constexpr (std::is_same_v<T, QString>)
        object[key] = toUtf8(*value);
    else if constexpr (std::is_same_v<T, QStringList>)
        object[key] = toJson(*value);
    else if constexpr (std::is_same_v<T, CompanionTabletState>)
        object[key] = toUtf8(rawValue(*value));
    else
        object[key] = *value;
}

QByteArray dump(const OrderedJson &json) {
    const std::string text = json.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

template <typename T, typename Read>
DecodeResult<T> decodeWith(QByteArrayView bytes, Read read) {
    try {
        return read(parse(bytes));
    } catch (const JsonDecodingError &error) {
        return error;
    } catch (const std::exception &error) {
        return JsonDecodingError(Kind::dataCorrupted, QString(), QString::fromUtf8(error.what()));
    }
}

} // namespace

DecodeResult<LocalServerHealth> LocalServerHealth::decode(QByteArrayView json) {
    return decodeWith<LocalServerHealth>(json, [](const Json &object) {
        expectObject(object);
        // Members in declaration order, so the first failing member is the one reported.
        LocalServerHealth health;
        health.status = asString(required(object, "status"), "status");
        health.service = asString(required(object, "service"), "service");
        health.requiresPairing = optional<bool>(object, "requires_pairing", asBool);
        health.pairingCode = optional<QString>(object, "pairing_code", asString);
        health.provider = optional<QString>(object, "provider", asString);
        health.providerAuthenticated = optional<bool>(object, "provider_authenticated", asBool);
        health.providerAccountLabel = optional<QString>(object, "provider_account_label", asString);
        health.tabletState = optional<CompanionTabletState>(object, "tablet_state", asTabletState);
        health.tabletConnected = optional<bool>(object, "tablet_connected", asBool);
        health.activeClientsCount = optional<std::int64_t>(object, "active_clients_count", asInt64);
        health.lastClientSeenAt = optional<QString>(object, "last_client_seen_at", asString);
        health.version = optional<QString>(object, "version", asString);
        health.capabilities = optional<QStringList>(object, "capabilities", asStringList);
        health.notebooksCount = optional<std::int64_t>(object, "notebooks_count", asInt64);
        health.contextFilesCount = optional<std::int64_t>(object, "context_files_count", asInt64);
        return health;
    });
}

QByteArray LocalServerHealth::encode() const {
    OrderedJson object = OrderedJson::object();
    object["status"] = toUtf8(status);
    object["service"] = toUtf8(service);
    put(object, "requires_pairing", requiresPairing);
    put(object, "pairing_code", pairingCode);
    put(object, "provider", provider);
    put(object, "provider_authenticated", providerAuthenticated);
    put(object, "provider_account_label", providerAccountLabel);
    put(object, "tablet_state", tabletState);
    put(object, "tablet_connected", tabletConnected);
    put(object, "active_clients_count", activeClientsCount);
    put(object, "last_client_seen_at", lastClientSeenAt);
    put(object, "version", version);
    put(object, "capabilities", capabilities);
    put(object, "notebooks_count", notebooksCount);
    put(object, "context_files_count", contextFilesCount);
    return dump(object);
}

DecodeResult<PairingCodeResponse> PairingCodeResponse::decode(QByteArrayView json) {
    return decodeWith<PairingCodeResponse>(json, [](const Json &object) {
        expectObject(object);
        return PairingCodeResponse{asString(required(object, "pairing_code"), "pairing_code")};
    });
}

QByteArray PairingCodeResponse::encode() const {
    OrderedJson object = OrderedJson::object();
    object["pairing_code"] = toUtf8(pairingCode);
    return dump(object);
}

DecodeResult<CompanionTabletState> decodeCompanionTabletState(QByteArrayView json) {
    return decodeWith<CompanionTabletState>(json, [](const Json &value) { return asTabletState(value, ""); });
}

QByteArray encode(CompanionTabletState state) {
    return dump(OrderedJson(toUtf8(rawValue(state))));
}

DecodeResult<ServerConnectionMode> decodeServerConnectionMode(QByteArrayView json) {
    return decodeWith<ServerConnectionMode>(json, [](const Json &value) {
        const QString raw = asString(value, "");
        if (const auto mode = serverConnectionModeFromRaw(raw))
            return *mode;
        throw JsonDecodingError(Kind::dataCorrupted, QString(), u"not a connection mode: %1"_s.arg(raw));
    });
}

QByteArray encode(ServerConnectionMode mode) {
    return dump(OrderedJson(toUtf8(rawValue(mode))));
}

} // namespace rirudez
