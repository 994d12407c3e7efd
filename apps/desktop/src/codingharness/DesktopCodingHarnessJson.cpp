// The camel-case JSON forms of the desktop's conversation records. Keys are named like the fields,
// enumerations are written as their raw values, dates as ISO 8601 UTC texts with milliseconds. An optional
// field is left out when absent and read as absent when missing or null; every other key is required.
#include "DesktopCodingHarnessModels.h"

#include <nlohmann/json.hpp>

#include <string>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

using Json = nlohmann::json;

// A value that does not have the required shape; caught at the decoding entry points.
struct ShapeError {
    QString description;
};

std::string utf8(const QString &text) {
    return text.toStdString();
}

Json stringJson(const QString &text) {
    return Json(utf8(text));
}

QByteArray dump(const Json &json) {
    return QByteArray::fromStdString(json.dump());
}

QString keyName(const char *key) {
    return QString::fromUtf8(key);
}

const Json &member(const Json &object, const char *key) {
    const auto it = object.find(key);
    if (it == object.end())
        throw ShapeError{u"key not found: "_s + keyName(key)};
    return *it;
}

// Missing and null are both absent.
const Json *optionalMember(const Json &object, const char *key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

void requireObject(const Json &json, const QString &what) {
    if (!json.is_object())
        throw ShapeError{u"expected an object for "_s + what};
}

QString readString(const Json &json, const char *key) {
    if (!json.is_string())
        throw ShapeError{u"expected a string for "_s + keyName(key)};
    return QString::fromStdString(json.get<std::string>());
}

bool readBool(const Json &json, const char *key) {
    if (!json.is_boolean())
        throw ShapeError{u"expected a boolean for "_s + keyName(key)};
    return json.get<bool>();
}

QString requiredString(const Json &object, const char *key) {
    return readString(member(object, key), key);
}

std::optional<QString> optionalString(const Json &object, const char *key) {
    const Json *value = optionalMember(object, key);
    return value ? std::optional(readString(*value, key)) : std::nullopt;
}

bool requiredBool(const Json &object, const char *key) {
    return readBool(member(object, key), key);
}

template <typename Enum>
Enum readEnum(const Json &json, const char *key) {
    const QString raw = readString(json, key);
    const std::optional<Enum> value = fromRaw<Enum>(raw);
    if (!value)
        throw ShapeError{u"unknown value "_s + raw + u" for "_s + keyName(key)};
    return *value;
}

template <typename Enum>
Enum requiredEnum(const Json &object, const char *key) {
    return readEnum<Enum>(member(object, key), key);
}

template <typename Enum>
QList<Enum> requiredEnumList(const Json &object, const char *key) {
    const Json &array = member(object, key);
    if (!array.is_array())
        throw ShapeError{u"expected an array for "_s + keyName(key)};
    QList<Enum> values;
    for (const Json &element : array)
        values.append(readEnum<Enum>(element, key));
    return values;
}

template <typename Enum>
Json enumListJson(const QList<Enum> &values) {
    Json array = Json::array();
    for (Enum value : values)
        array.push_back(utf8(rawValue(value)));
    return array;
}

Json dateJson(const QDateTime &date) {
    return stringJson(date.toUTC().toString(Qt::ISODateWithMs));
}

QDateTime readDate(const Json &json, const char *key) {
    const QString text = readString(json, key);
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        throw ShapeError{u"invalid date "_s + text + u" for "_s + keyName(key)};
    return date.toUTC();
}

QDateTime requiredDate(const Json &object, const char *key) {
    return readDate(member(object, key), key);
}

void putOptional(Json &object, const char *key, const std::optional<QString> &value) {
    if (value)
        object[key] = utf8(*value);
}

// ---------------------------------------------------------------------------------------------
// Records.

Json toJson(const DesktopCodingProject &value) {
    Json json = Json::object();
    json["id"] = utf8(value.id);
    json["name"] = utf8(value.name);
    json["rootDisplay"] = utf8(value.rootDisplay);
    putOptional(json, "branch", value.branch);
    json["hasUncommittedChanges"] = value.hasUncommittedChanges;
    json["maxAccess"] = utf8(rawValue(value.maxAccess));
    json["supportedAccessModes"] = enumListJson(value.supportedAccessModes);
    json["allowWeb"] = value.allowWeb;
    return json;
}

DesktopCodingProject projectFromJson(const Json &json) {
    requireObject(json, u"DesktopCodingProject"_s);
    DesktopCodingProject value;
    value.id = requiredString(json, "id");
    value.name = requiredString(json, "name");
    value.rootDisplay = requiredString(json, "rootDisplay");
    value.branch = optionalString(json, "branch");
    value.hasUncommittedChanges = requiredBool(json, "hasUncommittedChanges");
    value.maxAccess = requiredEnum<RepoAccessMode>(json, "maxAccess");
    value.supportedAccessModes = requiredEnumList<RepoAccessMode>(json, "supportedAccessModes");
    value.allowWeb = requiredBool(json, "allowWeb");
    return value;
}

Json toJson(const DesktopCodingModelOption &value) {
    Json json = Json::object();
    json["id"] = utf8(value.id);
    json["displayName"] = utf8(value.displayName);
    json["agent"] = utf8(rawValue(value.agent));
    json["supportsVision"] = value.supportsVision;
    json["speedLabel"] = utf8(value.speedLabel);
    json["thinkingLevels"] = enumListJson(value.thinkingLevels);
    return json;
}

DesktopCodingModelOption modelOptionFromJson(const Json &json) {
    requireObject(json, u"DesktopCodingModelOption"_s);
    DesktopCodingModelOption value;
    value.id = requiredString(json, "id");
    value.displayName = requiredString(json, "displayName");
    value.agent = requiredEnum<DesktopCodingAgent>(json, "agent");
    value.supportsVision = requiredBool(json, "supportsVision");
    value.speedLabel = requiredString(json, "speedLabel");
    value.thinkingLevels = requiredEnumList<DesktopCodingThinkingLevel>(json, "thinkingLevels");
    return value;
}

Json toJson(const DesktopCodingTurnImage &value) {
    Json json = Json::object();
    json["kind"] = utf8(rawValue(value.kind));
    json["b64PNG"] = utf8(value.b64PNG);
    return json;
}

DesktopCodingTurnImage turnImageFromJson(const Json &json) {
    requireObject(json, u"DesktopCodingTurnImage"_s);
    return DesktopCodingTurnImage(requiredEnum<ImageKind>(json, "kind"), requiredString(json, "b64PNG"));
}

Json toJson(const DesktopCodingEvent &value) {
    Json json = Json::object();
    json["id"] = utf8(value.id);
    json["kind"] = utf8(rawValue(value.kind));
    json["summary"] = utf8(value.summary);
    putOptional(json, "detail", value.detail);
    Json images = Json::array();
    for (const DesktopCodingTurnImage &image : value.images)
        images.push_back(toJson(image));
    json["images"] = std::move(images);
    json["createdAt"] = dateJson(value.createdAt);
    return json;
}

// Only "kind" is required; the rest take their defaults and the result is normalised.
DesktopCodingEvent eventFromJson(const Json &json) {
    requireObject(json, u"DesktopCodingEvent"_s);
    const DesktopCodingEventKind kind = requiredEnum<DesktopCodingEventKind>(json, "kind");
    QList<DesktopCodingTurnImage> images;
    if (const Json *array = optionalMember(json, "images")) {
        if (!array->is_array())
            throw ShapeError{u"expected an array for images"_s};
        for (const Json &element : *array)
            images.append(turnImageFromJson(element));
    }
    const Json *createdAt = optionalMember(json, "createdAt");
    return DesktopCodingEvent(
        optionalString(json, "id").value_or(QString()), kind,
        optionalString(json, "summary").value_or(QString()), optionalString(json, "detail"),
        std::move(images), createdAt ? readDate(*createdAt, "createdAt") : QDateTime::currentDateTimeUtc());
}

Json toJson(const DesktopCodingSession &value) {
    Json json = Json::object();
    json["id"] = utf8(value.id);
    json["title"] = utf8(value.title);
    Json events = Json::array();
    for (const DesktopCodingEvent &event : value.events)
        events.push_back(toJson(event));
    json["events"] = std::move(events);
    return json;
}

DesktopCodingSession sessionFromJson(const Json &json) {
    requireObject(json, u"DesktopCodingSession"_s);
    DesktopCodingSession value;
    value.id = requiredString(json, "id");
    value.title = requiredString(json, "title");
    const Json &events = member(json, "events");
    if (!events.is_array())
        throw ShapeError{u"expected an array for events"_s};
    value.events.reserve(qsizetype(events.size()));
    for (const Json &element : events)
        value.events.append(eventFromJson(element));
    return value;
}

Json toJson(const DesktopCodingThread &value) {
    Json json = Json::object();
    json["id"] = utf8(value.id);
    json["projectID"] = utf8(value.projectID);
    json["title"] = utf8(value.title);
    json["session"] = toJson(value.session);
    json["agent"] = utf8(rawValue(value.agent));
    putOptional(json, "modelID", value.modelID);
    json["access"] = utf8(rawValue(value.access));
    json["permission"] = utf8(rawValue(value.permission));
    json["thinking"] = utf8(rawValue(value.thinking));
    json["allowWeb"] = value.allowWeb;
    putOptional(json, "bridgeSessionID", value.bridgeSessionID);
    putOptional(json, "upstreamThreadID", value.upstreamThreadID);
    json["updatedAt"] = dateJson(value.updatedAt);
    return json;
}

DesktopCodingThread threadFromJson(const Json &json) {
    requireObject(json, u"DesktopCodingThread"_s);
    DesktopCodingThread value;
    value.id = requiredString(json, "id");
    value.projectID = requiredString(json, "projectID");
    value.title = requiredString(json, "title");
    value.session = sessionFromJson(member(json, "session"));
    value.agent = requiredEnum<DesktopCodingAgent>(json, "agent");
    value.modelID = optionalString(json, "modelID");
    value.access = requiredEnum<RepoAccessMode>(json, "access");
    value.permission = requiredEnum<AgentPermissionMode>(json, "permission");
    value.thinking = requiredEnum<DesktopCodingThinkingLevel>(json, "thinking");
    value.allowWeb = requiredBool(json, "allowWeb");
    value.bridgeSessionID = optionalString(json, "bridgeSessionID");
    value.upstreamThreadID = optionalString(json, "upstreamThreadID");
    value.updatedAt = requiredDate(json, "updatedAt");
    return value;
}

Json toJson(const DesktopCodingPendingApproval &value) {
    Json json = Json::object();
    json["id"] = utf8(value.id);
    json["threadID"] = utf8(value.threadID);
    json["sessionID"] = utf8(value.sessionID);
    json["approvalID"] = utf8(value.approvalID);
    json["messageID"] = utf8(value.messageID);
    json["method"] = utf8(value.method);
    json["summary"] = utf8(value.summary);
    json["eventID"] = utf8(value.eventID);
    json["createdAt"] = dateJson(value.createdAt);
    return json;
}

DesktopCodingPendingApproval pendingApprovalFromJson(const Json &json) {
    requireObject(json, u"DesktopCodingPendingApproval"_s);
    DesktopCodingPendingApproval value;
    value.id = requiredString(json, "id");
    value.threadID = requiredString(json, "threadID");
    value.sessionID = requiredString(json, "sessionID");
    value.approvalID = requiredString(json, "approvalID");
    value.messageID = requiredString(json, "messageID");
    value.method = requiredString(json, "method");
    value.summary = requiredString(json, "summary");
    value.eventID = requiredString(json, "eventID");
    value.createdAt = requiredDate(json, "createdAt");
    return value;
}

Json toJson(const DesktopCodingRequestDraft &value) {
    Json json = Json::object();
    putOptional(json, "projectID", value.projectID);
    json["agent"] = utf8(rawValue(value.agent));
    putOptional(json, "modelID", value.modelID);
    json["access"] = utf8(rawValue(value.access));
    json["permission"] = utf8(rawValue(value.permission));
    json["thinking"] = utf8(rawValue(value.thinking));
    json["allowWeb"] = value.allowWeb;
    json["prompt"] = utf8(value.prompt);
    return json;
}

DesktopCodingRequestDraft requestDraftFromJson(const Json &json) {
    requireObject(json, u"DesktopCodingRequestDraft"_s);
    DesktopCodingRequestDraft value;
    value.projectID = optionalString(json, "projectID");
    value.agent = requiredEnum<DesktopCodingAgent>(json, "agent");
    value.modelID = optionalString(json, "modelID");
    value.access = requiredEnum<RepoAccessMode>(json, "access");
    value.permission = requiredEnum<AgentPermissionMode>(json, "permission");
    value.thinking = requiredEnum<DesktopCodingThinkingLevel>(json, "thinking");
    value.allowWeb = requiredBool(json, "allowWeb");
    value.prompt = requiredString(json, "prompt");
    return value;
}

// Parses the bytes and runs `read` on the document; every failure becomes a DecodingError.
template <typename T, typename Read>
Expected<T, DecodingError> decode(QByteArrayView bytes, Read read) {
    try {
        const Json json = Json::parse(bytes.begin(), bytes.end());
        return read(json);
    } catch (const ShapeError &error) {
        return DecodingError{error.description};
    } catch (const Json::exception &error) {
        return DecodingError{QString::fromUtf8(error.what())};
    }
}

template <typename Enum>
Expected<Enum, DecodingError> decodeEnum(QByteArrayView bytes) {
    return decode<Enum>(bytes, [](const Json &json) { return readEnum<Enum>(json, "value"); });
}

} // namespace

QByteArray toDesktopJson(DesktopCodingAgent value) {
    return dump(stringJson(rawValue(value)));
}
QByteArray toDesktopJson(DesktopCodingThinkingLevel value) {
    return dump(stringJson(rawValue(value)));
}
QByteArray toDesktopJson(DesktopCodingRuntimeMode value) {
    return dump(stringJson(rawValue(value)));
}
QByteArray toDesktopJson(DesktopCodingEventKind value) {
    return dump(stringJson(rawValue(value)));
}
QByteArray toDesktopJson(const DesktopCodingProject &value) {
    return dump(toJson(value));
}
QByteArray toDesktopJson(const DesktopCodingModelOption &value) {
    return dump(toJson(value));
}
QByteArray toDesktopJson(const DesktopCodingTurnImage &value) {
    return dump(toJson(value));
}
QByteArray toDesktopJson(const DesktopCodingEvent &value) {
    return dump(toJson(value));
}
QByteArray toDesktopJson(const DesktopCodingSession &value) {
    return dump(toJson(value));
}
QByteArray toDesktopJson(const DesktopCodingThread &value) {
    return dump(toJson(value));
}
QByteArray toDesktopJson(const DesktopCodingPendingApproval &value) {
    return dump(toJson(value));
}
QByteArray toDesktopJson(const DesktopCodingRequestDraft &value) {
    return dump(toJson(value));
}

template <>
Expected<DesktopCodingAgent, DecodingError> fromDesktopJson<DesktopCodingAgent>(QByteArrayView bytes) {
    return decodeEnum<DesktopCodingAgent>(bytes);
}
template <>
Expected<DesktopCodingThinkingLevel, DecodingError>
fromDesktopJson<DesktopCodingThinkingLevel>(QByteArrayView bytes) {
    return decodeEnum<DesktopCodingThinkingLevel>(bytes);
}
template <>
Expected<DesktopCodingRuntimeMode, DecodingError>
fromDesktopJson<DesktopCodingRuntimeMode>(QByteArrayView bytes) {
    return decodeEnum<DesktopCodingRuntimeMode>(bytes);
}
template <>
Expected<DesktopCodingEventKind, DecodingError>
fromDesktopJson<DesktopCodingEventKind>(QByteArrayView bytes) {
    return decodeEnum<DesktopCodingEventKind>(bytes);
}
template <>
Expected<DesktopCodingProject, DecodingError> fromDesktopJson<DesktopCodingProject>(QByteArrayView bytes) {
    return decode<DesktopCodingProject>(bytes, projectFromJson);
}
template <>
Expected<DesktopCodingModelOption, DecodingError>
fromDesktopJson<DesktopCodingModelOption>(QByteArrayView bytes) {
    return decode<DesktopCodingModelOption>(bytes, modelOptionFromJson);
}
template <>
Expected<DesktopCodingTurnImage, DecodingError>
fromDesktopJson<DesktopCodingTurnImage>(QByteArrayView bytes) {
    return decode<DesktopCodingTurnImage>(bytes, turnImageFromJson);
}
template <>
Expected<DesktopCodingEvent, DecodingError> fromDesktopJson<DesktopCodingEvent>(QByteArrayView bytes) {
    return decode<DesktopCodingEvent>(bytes, eventFromJson);
}
template <>
Expected<DesktopCodingSession, DecodingError> fromDesktopJson<DesktopCodingSession>(QByteArrayView bytes) {
    return decode<DesktopCodingSession>(bytes, sessionFromJson);
}
template <>
Expected<DesktopCodingThread, DecodingError> fromDesktopJson<DesktopCodingThread>(QByteArrayView bytes) {
    return decode<DesktopCodingThread>(bytes, threadFromJson);
}
template <>
Expected<DesktopCodingPendingApproval, DecodingError>
fromDesktopJson<DesktopCodingPendingApproval>(QByteArrayView bytes) {
    return decode<DesktopCodingPendingApproval>(bytes, pendingApprovalFromJson);
}
template <>
Expected<DesktopCodingRequestDraft, DecodingError>
fromDesktopJson<DesktopCodingRequestDraft>(QByteArrayView bytes) {
    return decode<DesktopCodingRequestDraft>(bytes, requestDraftFromJson);
}

} // namespace rirudez
