#pragma once

// Records for the tests of the desktop's conversation records: a fixed time, events and threads, characters
// that take several code units, a full request draft, the recorded fixtures in tests/data, and JSON helpers.

#include "DesktopCodingHarnessModels.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QByteArray>
#include <QDateTime>
#include <QFile>

#include <filesystem>
#include <ostream>
#include <string>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace rirudez::testing {
using namespace Qt::StringLiterals;
using Json = nlohmann::json;

inline std::filesystem::path dataDirectory() {
    const QString fromEnvironment = qEnvironmentVariable("RIRUDEZ_TEST_DATA");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment.toStdString();
    return std::filesystem::path(__FILE__).parent_path() / "data";
}

inline Json loadFixture(const char *name) {
    QFile file(QString::fromStdString((dataDirectory() / name).string()));
    if (!file.open(QIODevice::ReadOnly))
        return Json::array();
    return Json::parse(file.readAll().toStdString());
}

inline QString q(const std::string &text) {
    return QString::fromStdString(text);
}

inline QByteArray bytes(const Json &json) {
    return QByteArray::fromStdString(json.dump());
}

inline Json parsed(const QByteArray &text) {
    return Json::parse(text.toStdString());
}

template <typename T>
T decodeOrFail(const QByteArray &text) {
    auto decoded = fromDesktopJson<T>(text);
    EXPECT_TRUE(decoded.hasValue()) << (decoded.hasValue() ? "" : decoded.error().description.toStdString());
    return decoded.hasValue() ? decoded.value() : T{};
}

inline const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(9, 30, 0, 125), Qt::UTC);

inline DesktopCodingEvent event(const QString &id, DesktopCodingEventKind kind, const QString &summary,
                                const QDateTime &at = t0) {
    return DesktopCodingEvent(id, kind, summary, std::nullopt, {}, at);
}

inline DesktopCodingThread thread(const QString &title, QList<DesktopCodingEvent> events = {},
                                  std::optional<QString> bridgeSessionID = {}) {
    return DesktopCodingThread(
        u"th-1"_s, u"notes"_s, title, DesktopCodingSession(u"th-1"_s, title, std::move(events)),
        DesktopCodingAgent::codex, u"gpt-5.4"_s, RepoAccessMode::edit, AgentPermissionMode::auto_,
        DesktopCodingThinkingLevel::medium, false, std::move(bridgeSessionID), std::nullopt, t0);
}

// Multi-unit characters: each is one user-perceived character.
inline const QString family =
    u"\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"_s; // ZWJ family, 11 units
inline const QString accentedE = u"e\u0301"_s;                       // e + combining acute
inline const QString flag = u"\U0001F1EB\U0001F1F7"_s;               // regional indicators

inline QString repeated(const QString &character, int count) {
    return character.repeated(count);
}

inline DesktopCodingRequestDraft sampleDraft() {
    return DesktopCodingRequestDraft{u"notes"_s,
                                     DesktopCodingAgent::claude,
                                     u"claude-opus-4.8"_s,
                                     RepoAccessMode::propose,
                                     AgentPermissionMode::acceptEdits,
                                     DesktopCodingThinkingLevel::xhigh,
                                     true,
                                     u"Add a README"_s};
}

} // namespace rirudez::testing
