#include "DesktopBridgeActivityLog.h"

#include <nlohmann/json.hpp>

#include <algorithm>

using namespace Qt::StringLiterals;
using nlohmann::json;

namespace rirudez {

std::optional<DesktopBridgeActivity> DesktopBridgeActivityLog::latest() const {
    if (entries.isEmpty())
        return std::nullopt;
    return entries.constLast();
}

QList<DesktopBridgeActivity> DesktopBridgeActivityLog::recentEntries(qsizetype limit) const {
    QList<DesktopBridgeActivity> recent;
    const qsizetype count = std::clamp<qsizetype>(limit, 0, entries.size());
    recent.reserve(count);
    for (qsizetype i = entries.size() - 1; i >= entries.size() - count; --i)
        recent.append(entries[i]);
    return recent;
}

void DesktopBridgeActivityLog::append(DesktopBridgeActivity activity, qsizetype capacity) {
    entries.append(std::move(activity));
    if (capacity >= 0 && entries.size() > capacity)
        entries.remove(0, entries.size() - capacity);
}

bool DesktopBridgeActivityLog::contains(const QString &id) const {
    return std::any_of(entries.cbegin(), entries.cend(),
                       [&](const DesktopBridgeActivity &entry) { return entry.id == id; });
}

namespace {

std::string utf8(const QString &text) {
    return text.toStdString();
}

json encode(const DesktopBridgeActivity &activity) {
    json object = json::object();
    object["id"] = utf8(activity.id);
    object["kind"] = utf8(rawValue(activity.kind));
    object["summary"] = utf8(activity.summary);
    if (activity.projectID)
        object["projectID"] = utf8(*activity.projectID);
    if (activity.agent)
        object["agent"] = utf8(*activity.agent);
    if (activity.model)
        object["model"] = utf8(*activity.model);
    object["createdAt"] = utf8(activity.createdAt.toUTC().toString(Qt::ISODateWithMs));
    return object;
}

struct Failure {
    QString description;
};

QString requiredString(const json &object, const char *key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string())
        throw Failure{u"activity member \"%1\" is missing or not a string"_s.arg(QLatin1StringView(key))};
    return QString::fromStdString(found->get<std::string>());
}

std::optional<QString> optionalString(const json &object, const char *key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return std::nullopt;
    if (!found->is_string())
        throw Failure{u"activity member \"%1\" is not a string"_s.arg(QLatin1StringView(key))};
    return QString::fromStdString(found->get<std::string>());
}

DesktopBridgeActivity decodeActivity(const json &object) {
    if (!object.is_object())
        throw Failure{u"an activity is not an object"_s};
    DesktopBridgeActivity activity;
    activity.id = requiredString(object, "id");
    const QString kind = requiredString(object, "kind");
    const std::optional<DesktopBridgeActivityKind> parsedKind = desktopBridgeActivityKind(kind);
    if (!parsedKind)
        throw Failure{u"unknown activity kind \"%1\""_s.arg(kind)};
    activity.kind = *parsedKind;
    activity.summary = requiredString(object, "summary");
    activity.projectID = optionalString(object, "projectID");
    activity.agent = optionalString(object, "agent");
    activity.model = optionalString(object, "model");
    const QString createdAt = requiredString(object, "createdAt");
    activity.createdAt = QDateTime::fromString(createdAt, Qt::ISODateWithMs);
    if (!activity.createdAt.isValid())
        throw Failure{u"invalid activity time \"%1\""_s.arg(createdAt)};
    activity.createdAt = activity.createdAt.toUTC();
    return activity;
}

} // namespace

QByteArray encodeDesktopBridgeActivityLog(const DesktopBridgeActivityLog &log) {
    json entries = json::array();
    for (const DesktopBridgeActivity &activity : log.entries)
        entries.push_back(encode(activity));
    json object = json::object();
    object["entries"] = std::move(entries);
    return QByteArray::fromStdString(object.dump());
}

Expected<DesktopBridgeActivityLog, DecodingError> decodeDesktopBridgeActivityLog(QByteArrayView bytes) {
    const json document = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (document.is_discarded())
        return DecodingError{u"the activity log is not valid JSON"_s};
    if (!document.is_object())
        return DecodingError{u"the activity log is not a JSON object"_s};
    const auto entries = document.find("entries");
    if (entries == document.end() || !entries->is_array())
        return DecodingError{u"the activity log has no \"entries\" array"_s};
    DesktopBridgeActivityLog log;
    try {
        for (const json &entry : *entries)
            log.entries.append(decodeActivity(entry));
    } catch (const Failure &failure) {
        return DecodingError{failure.description};
    }
    return log;
}

} // namespace rirudez
