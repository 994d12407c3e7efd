#pragma once

// The nlohmann-json forms of the bridge's wire vocabulary: to_json / from_json for every enumeration and
// record, plus the member readers and writers they are built from. Include this only from codec sources,
// the bridge service and tests; everything else uses the byte-level entry points of BridgeMessages.h.
//
// Rules every form follows:
// - keys are the explicit snake_case wire keys;
// - an optional member is written only when it holds a value, and read as absent when missing or null;
// - a member with a decoding default takes it when missing or null, and is always written;
// - a required member that is missing or of the wrong JSON type fails the whole value;
// - enumeration strings outside the wire table fail, except error codes, which are kept as received;
// - token counts and sequence numbers are exact unsigned 64-bit integers: negative, fractional or larger
//   numbers fail (a double is never taken as a count).
// The from_json forms report a malformed value by throwing WireFormatError; the decoders of
// BridgeMessages.h catch it (and any parser error) and return a DecodingError instead.

#include "rirudez/bridgekit/BridgeMessages.h"

#include <nlohmann/json.hpp>

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace rirudez {

using Json = nlohmann::json;

// A JSON value that does not have the shape the wire rules require. Carries the DecodingError text.
class WireFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------------
// Enumerations travel as their wire strings.

void to_json(Json &json, Agent value);
void from_json(const Json &json, Agent &value);
void to_json(Json &json, ThinkingEffort value);
void from_json(const Json &json, ThinkingEffort &value);
void to_json(Json &json, RepoAccessMode value);
void from_json(const Json &json, RepoAccessMode &value);
void to_json(Json &json, AgentPermissionMode value);
void from_json(const Json &json, AgentPermissionMode &value);
void to_json(Json &json, TurnMode value);
void from_json(const Json &json, TurnMode &value);
void to_json(Json &json, ImageKind value);
void from_json(const Json &json, ImageKind &value);
void to_json(Json &json, TurnState value);
void from_json(const Json &json, TurnState &value);
void to_json(Json &json, RepoApprovalDecision value);
void from_json(const Json &json, RepoApprovalDecision &value);
void to_json(Json &json, const ErrorCode &value);

// ---------------------------------------------------------------------------------------------
// Records.

void to_json(Json &json, const TokenUsage &value);
void from_json(const Json &json, TokenUsage &value);
void to_json(Json &json, const AgentModels &value);
void from_json(const Json &json, AgentModels &value);
void to_json(Json &json, const BridgeProjectGitStatus &value);
void from_json(const Json &json, BridgeProjectGitStatus &value);
void to_json(Json &json, const BridgeProjectCapabilities &value);
void from_json(const Json &json, BridgeProjectCapabilities &value);
void to_json(Json &json, const BridgeProject &value);
void from_json(const Json &json, BridgeProject &value);
void to_json(Json &json, const RepoSessionSummary &value);
void from_json(const Json &json, RepoSessionSummary &value);
void to_json(Json &json, const RepoSessionCreatedFile &value);
void from_json(const Json &json, RepoSessionCreatedFile &value);
void to_json(Json &json, const RepoMessageSettings &value);
void from_json(const Json &json, RepoMessageSettings &value);
void to_json(Json &json, const TurnImage &value);
void from_json(const Json &json, TurnImage &value);
// TurnRequest and TurnResult also write / read their fields at the top level of the `turn` and
// `result` frames: the frame codecs call these with the frame object itself.
void to_json(Json &json, const TurnRequest &value);
void from_json(const Json &json, TurnRequest &value);
void to_json(Json &json, const TurnResult &value);
void from_json(const Json &json, TurnResult &value);
void to_json(Json &json, const BridgeHealth &value);
void from_json(const Json &json, BridgeHealth &value);

// ---------------------------------------------------------------------------------------------
// Frames, in the directions the client uses them (the bridge service has the other two directions).

void to_json(Json &json, const RepoSessionEvent &value);
void from_json(const Json &json, RepoSessionEvent &value);
void to_json(Json &json, const ClientMessage &value);
// BridgeMessage has no default value (its first case carries defaulted members, which keeps the
// variant from being default-constructible), so it is read by a function that returns it;
// json.get<BridgeMessage>() works through the serializer below.
BridgeMessage bridgeMessageFromJson(const Json &json);

namespace wire {

// Deepest nesting of arrays and objects that a frame may have; deeper input is refused while parsing.
inline constexpr std::size_t maxNestingDepth = 64;

// Parses the UTF-8 text of one JSON value (the bytes of a text or binary WebSocket message). Never
// throws: malformed text, invalid UTF-8, trailing bytes, numbers out of range and nesting deeper
// than maxNestingDepth all give a DecodingError. The description names the byte offset, never the
// content, so it cannot leak a token into a log.
Expected<Json, DecodingError> parse(QByteArrayView bytes);

// Compact UTF-8 text of a JSON value. Never throws.
QByteArray dump(const Json &json);

[[noreturn]] void fail(std::string message);
[[noreturn]] void failTypeMismatch(std::string_view key, std::string_view expected);
void expectObject(const Json &json, std::string_view key);

QString toQString(const std::string &utf8);
std::string toStdString(const QString &text);

template <typename T>
inline constexpr bool isQList = false;
template <typename T>
inline constexpr bool isQList<QList<T>> = true;

// Converts one JSON value to T by the wire rules; `key` names the member in error descriptions.
template <typename T>
T as(const Json &json, std::string_view key) {
    if constexpr (std::is_same_v<T, QString>) {
        if (!json.is_string())
            failTypeMismatch(key, "string");
        return toQString(json.get_ref<const std::string &>());
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!json.is_boolean())
            failTypeMismatch(key, "boolean");
        return json.get<bool>();
    } else if constexpr (std::is_same_v<T, int>) {
        if (json.is_number_unsigned()) {
            const auto number = json.get<std::uint64_t>();
            if (number <= std::uint64_t(std::numeric_limits<int>::max()))
                return int(number);
        } else if (json.is_number_integer()) {
            const auto number = json.get<std::int64_t>();
            if (number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max())
                return int(number);
        } else {
            failTypeMismatch(key, "integer");
        }
        fail("integer out of range for key " + std::string(key));
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        // nlohmann keeps every non-negative integer up to 2^64-1 exactly as unsigned; anything
        // larger, fractional or written with an exponent arrives as a double and is refused.
        if (json.is_number_unsigned())
            return json.get<std::uint64_t>();
        if (json.is_number_integer())
            fail("negative count for key " + std::string(key));
        if (json.is_number_float())
            fail("count is not an unsigned 64-bit integer for key " + std::string(key));
        failTypeMismatch(key, "unsigned integer");
    } else if constexpr (std::is_same_v<T, double>) {
        if (!json.is_number())
            failTypeMismatch(key, "number");
        return json.get<double>();
    } else if constexpr (std::is_same_v<T, ErrorCode>) {
        if (!json.is_string())
            failTypeMismatch(key, "string");
        return ErrorCode::fromWire(toQString(json.get_ref<const std::string &>()));
    } else if constexpr (std::is_enum_v<T>) {
        if (!json.is_string())
            failTypeMismatch(key, "string");
        const auto &raw = json.get_ref<const std::string &>();
        if (auto value = fromRaw<T>(toQString(raw)))
            return *value;
        fail("unknown value \"" + raw + "\" for key " + std::string(key));
    } else if constexpr (isQList<T>) {
        if (!json.is_array())
            failTypeMismatch(key, "array");
        T list;
        list.reserve(qsizetype(json.size()));
        for (const auto &element : json)
            list.append(as<typename T::value_type>(element, key));
        return list;
    } else if constexpr (!std::is_default_constructible_v<T>) {
        expectObject(json, key);
        return nlohmann::adl_serializer<T>::from_json(json);
    } else {
        expectObject(json, key);
        T value;
        from_json(json, value);
        return value;
    }
}

// A required member: missing, null or mistyped fails.
template <typename T>
T readRequired(const Json &object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end())
        fail("key not found: " + std::string(key));
    return as<T>(*it, key);
}

// An optional member: missing or null gives nothing; present but mistyped fails.
template <typename T>
std::optional<T> readOptional(const Json &object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    return as<T>(*it, key);
}

// A member with a decoding default: missing or null gives `fallback`; present but mistyped fails.
template <typename T>
T readOr(const Json &object, std::string_view key, T fallback) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return fallback;
    return as<T>(*it, key);
}

// The JSON form of one value by the wire rules.
template <typename T>
Json toJson(const T &value) {
    if constexpr (std::is_same_v<T, QString>) {
        return Json(toStdString(value));
    } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, int> ||
                         std::is_same_v<T, std::uint64_t> || std::is_same_v<T, double>) {
        return Json(value);
    } else if constexpr (isQList<T>) {
        Json array = Json::array();
        array.get_ref<Json::array_t &>().reserve(std::size_t(value.size()));
        for (const auto &element : value)
            array.push_back(toJson(element));
        return array;
    } else {
        Json json;
        to_json(json, value);
        return json;
    }
}

// Writes a member; an absent optional writes nothing (never null).
template <typename T>
void write(Json &object, const char *key, const T &value) {
    object[key] = toJson(value);
}
template <typename T>
void write(Json &object, const char *key, const std::optional<T> &value) {
    if (value)
        object[key] = toJson(*value);
}

// Decodes the bytes of one JSON object as T, catching every failure. `T` must have a from_json form.
template <typename T>
Expected<T, DecodingError> decode(QByteArrayView bytes) {
    auto parsed = parse(bytes);
    if (!parsed)
        return std::move(parsed).error();
    try {
        return as<T>(*parsed, {});
    } catch (const std::exception &error) {
        return DecodingError{QString::fromUtf8(error.what())};
    } catch (...) {
        return DecodingError{QStringLiteral("undecodable value")};
    }
}

// The compact text of a value that has a to_json form.
template <typename T>
QByteArray encode(const T &value) {
    return dump(toJson(value));
}

} // namespace wire
} // namespace rirudez

// QString travels as a JSON string (UTF-8).
template <>
struct nlohmann::adl_serializer<QString> {
    static void to_json(nlohmann::json &json, const QString &text) {
        json = rirudez::wire::toStdString(text);
    }
    static void from_json(const nlohmann::json &json, QString &text) {
        text = rirudez::wire::as<QString>(json, {});
    }
};

// ErrorCode has no default value, so it converts through a serializer that returns it.
template <>
struct nlohmann::adl_serializer<rirudez::ErrorCode> {
    static void to_json(nlohmann::json &json, const rirudez::ErrorCode &code) {
        rirudez::to_json(json, code);
    }
    static rirudez::ErrorCode from_json(const nlohmann::json &json) {
        return rirudez::wire::as<rirudez::ErrorCode>(json, {});
    }
};

template <>
struct nlohmann::adl_serializer<rirudez::BridgeMessage> {
    static rirudez::BridgeMessage from_json(const nlohmann::json &json) {
        return rirudez::bridgeMessageFromJson(json);
    }
};
