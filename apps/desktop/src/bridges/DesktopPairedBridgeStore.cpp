#include "DesktopPairedBridgeStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>

using namespace Qt::StringLiterals;
using Json = nlohmann::json;

namespace rirudez {

namespace {

constexpr qint64 maximumFileSize = 1024 * 1024;
const QString fileName = u"paired-bridges.json"_s;

bool isFingerprint(const QString &text) {
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

QString text(const Json &object, const char *key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string())
        return {};
    return QString::fromStdString(found->get<std::string>());
}

std::optional<DesktopPairedBridge> bridgeFromJson(const Json &object) {
    if (!object.is_object())
        return std::nullopt;
    DesktopPairedBridge bridge;
    bridge.id = text(object, "id");
    bridge.name = text(object, "name");
    bridge.host = text(object, "host");
    bridge.fingerprint = text(object, "fingerprint");
    const auto port = object.find("port");
    if (port == object.end() || !port->is_number_integer())
        return std::nullopt;
    const auto value = port->get<std::int64_t>();
    if (value < 1 || value > 65535)
        return std::nullopt;
    bridge.port = int(value);
    const QString storage = text(object, "tokenStorage");
    if (storage == u"keychain"_s)
        bridge.tokenStorage = DesktopTokenStorage::keychain;
    else if (storage == u"file"_s)
        bridge.tokenStorage = DesktopTokenStorage::file;
    else
        return std::nullopt;
    if (bridge.id.isEmpty() || bridge.host.isEmpty() || !isFingerprint(bridge.fingerprint))
        return std::nullopt;
    return bridge;
}

Json toJson(const DesktopPairedBridge &bridge) {
    return Json{{"id", bridge.id.toStdString()},
                {"name", bridge.name.toStdString()},
                {"host", bridge.host.toStdString()},
                {"port", bridge.port},
                {"fingerprint", bridge.fingerprint.toStdString()},
                {"tokenStorage", bridge.tokenStorage == DesktopTokenStorage::keychain ? "keychain" : "file"}};
}

} // namespace

QString DesktopPairedBridge::address() const {
    return host + u':' + QString::number(port);
}

QString DesktopPairedBridge::shortFingerprint() const {
    if (fingerprint.size() <= 16)
        return fingerprint;
    return fingerprint.left(8) + u"…"_s + fingerprint.right(8);
}

std::optional<QString> writePrivateFileAtomically(const QString &path, const QByteArray &bytes) {
    const QFileInfo info(path);
    QDir directory = info.absoluteDir();
    if (!directory.exists()) {
        if (!directory.mkpath(u"."_s))
            return u"The folder “%1” could not be created."_s.arg(directory.path());
        QFile::setPermissions(directory.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return u"“%1” could not be written: %2."_s.arg(path, file.errorString());
    // Owner-only before the first byte goes in; the rename keeps the mode.
    if (!file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)) {
        file.cancelWriting();
        return u"“%1” could not be made private."_s.arg(path);
    }
    if (file.write(bytes) != bytes.size() || !file.commit())
        return u"“%1” could not be written: %2."_s.arg(path, file.errorString());
    return std::nullopt;
}

DesktopPairedBridgeStore::DesktopPairedBridgeStore(QString directory) : m_directory(std::move(directory)) {
    load();
}

QString DesktopPairedBridgeStore::defaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString DesktopPairedBridgeStore::filePath() const {
    return QDir(m_directory).filePath(fileName);
}

std::optional<DesktopPairedBridge> DesktopPairedBridgeStore::bridge(const QString &id) const {
    for (const auto &bridge : m_bridges) {
        if (bridge.id == id)
            return bridge;
    }
    return std::nullopt;
}

void DesktopPairedBridgeStore::load() {
    QFile file(filePath());
    if (!file.exists())
        return;
    auto unreadable = [&](const QString &why) {
        m_loadProblem =
            u"The list of paired bridges in “%1” could not be read (%2); it was kept aside."_s.arg(filePath(),
                                                                                                   why);
        m_moveAsideBeforeWrite = true;
        m_bridges.clear();
        m_selectedBridgeID.reset();
    };
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(file.errorString());
    if (file.size() > maximumFileSize)
        return unreadable(u"too large"_s);
    const QByteArray bytes = file.readAll();
    Json document = Json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return unreadable(u"not a JSON object"_s);
    const auto list = document.find("bridges");
    if (list == document.end() || !list->is_array())
        return unreadable(u"no list of bridges"_s);
    int skipped = 0;
    for (const Json &entry : *list) {
        auto bridge = bridgeFromJson(entry);
        if (bridge && !this->bridge(bridge->id))
            m_bridges.append(std::move(*bridge));
        else
            ++skipped;
    }
    if (skipped > 0) {
        m_loadProblem = u"%1 of the paired bridges in “%2” could not be read and were left out."_s.arg(
            QString::number(skipped), filePath());
        m_moveAsideBeforeWrite = true;
    }
    const QString selected = text(document, "selectedBridgeID");
    if (!selected.isEmpty() && bridge(selected))
        m_selectedBridgeID = selected;
}

void DesktopPairedBridgeStore::save() {
    Json list = Json::array();
    for (const auto &bridge : m_bridges)
        list.push_back(toJson(bridge));
    Json document{{"version", 1}, {"bridges", std::move(list)}};
    if (m_selectedBridgeID)
        document["selectedBridgeID"] = m_selectedBridgeID->toStdString();
    if (m_moveAsideBeforeWrite) {
        const QString aside = filePath() + u".unreadable"_s;
        QFile::remove(aside);
        QFile::rename(filePath(), aside);
        m_moveAsideBeforeWrite = false;
    }
    const std::string bytes = document.dump(2) + "\n";
    if (auto problem = writePrivateFileAtomically(filePath(), QByteArray::fromStdString(bytes)))
        throw DesktopPairedBridgeStoreError(*problem);
}

DesktopPairedBridge DesktopPairedBridgeStore::add(DesktopPairedBridge bridge) {
    bridge.fingerprint = bridge.fingerprint.toLower();
    const auto before = m_bridges;
    auto existing = std::find_if(m_bridges.begin(), m_bridges.end(), [&](const DesktopPairedBridge &known) {
        return known.host == bridge.host && known.port == bridge.port;
    });
    if (existing != m_bridges.end()) {
        bridge.id = existing->id;
        *existing = bridge;
    } else {
        if (bridge.id.isEmpty())
            bridge.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_bridges.append(bridge);
    }
    try {
        save();
    } catch (...) {
        m_bridges = before;
        throw;
    }
    return bridge;
}

bool DesktopPairedBridgeStore::remove(const QString &id) {
    const auto before = m_bridges;
    const auto selectedBefore = m_selectedBridgeID;
    if (m_bridges.removeIf([&](const DesktopPairedBridge &known) { return known.id == id; }) == 0)
        return false;
    if (m_selectedBridgeID == id)
        m_selectedBridgeID.reset();
    try {
        save();
    } catch (...) {
        m_bridges = before;
        m_selectedBridgeID = selectedBefore;
        throw;
    }
    return true;
}

bool DesktopPairedBridgeStore::select(const std::optional<QString> &id) {
    if (id && !bridge(*id))
        return false;
    if (m_selectedBridgeID == id)
        return true;
    const auto before = m_selectedBridgeID;
    m_selectedBridgeID = id;
    try {
        save();
    } catch (...) {
        m_selectedBridgeID = before;
        throw;
    }
    return true;
}

} // namespace rirudez
