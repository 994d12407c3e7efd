// The JSON forms of the desktop's conversation records: every record round-trips, keys are the field names,
// reading fills defaults, and malformed input fails with a description instead of throwing.
#include "DesktopCodingRecordFixtures.h"

#include <QUuid>

namespace rirudez {
namespace {
using namespace Qt::StringLiterals;
using namespace rirudez::testing;

template <typename T>
void expectRoundTrip(const T &value) {
    const QByteArray text = toDesktopJson(value);
    const auto decoded = fromDesktopJson<T>(text);
    ASSERT_TRUE(decoded.hasValue()) << decoded.error().description.toStdString() << " in "
                                    << text.toStdString();
    EXPECT_EQ(decoded.value(), value) << text.toStdString();
    EXPECT_EQ(text.indexOf("null"), -1) << text.toStdString();
}

DesktopCodingThread richThread() {
    DesktopCodingThread subject(u"s-1"_s, u"notes"_s, u"Caf\u00e9 "_s + family,
                                DesktopCodingSession(u"s-1"_s, u"Caf\u00e9"_s), DesktopCodingAgent::claude,
                                u"claude-opus-4.8"_s, RepoAccessMode::edit,
                                AgentPermissionMode::bypassPermissions, DesktopCodingThinkingLevel::xhigh,
                                true, u"s-1"_s, u"up-1"_s, t0);
    subject.append(DesktopCodingEvent(u"u1"_s, DesktopCodingEventKind::userMessage, u"Look"_s, std::nullopt,
                                      {DesktopCodingTurnImage(ImageKind::screenshot, u"QUI="_s)},
                                      t0.addMSecs(1)));
    subject.append(event(u"a1"_s, DesktopCodingEventKind::assistantText, u"  spaced  "_s, t0.addSecs(2)));
    subject.append(DesktopCodingEvent(u"d1"_s, DesktopCodingEventKind::completed, u"Completed"_s,
                                      u"input 10 · output 5"_s, {}, t0.addSecs(3)));
    return subject;
}

TEST(DesktopCodingJson, EveryRecordRoundTrips) {
    const auto each = [](const auto &values) {
        for (const auto &value : values)
            expectRoundTrip(value);
    };
    each(allDesktopCodingAgents);
    each(allDesktopCodingThinkingLevels);
    each(allDesktopCodingRuntimeModes);
    each(allDesktopCodingEventKinds);
    each(DesktopCodingProject::sampleProjects());
    each(DesktopCodingModelOption::defaults(DesktopCodingAgent::claude));
    expectRoundTrip(DesktopCodingTurnImage(ImageKind::markup, u"QUI="_s));
    expectRoundTrip(richThread());
    expectRoundTrip(richThread().session);
    expectRoundTrip(thread(u"bare"_s)); // no bound session, no upstream thread
    expectRoundTrip(
        DesktopCodingPendingApproval::make(u"s"_s, u"a"_s, u"m"_s, u"exec"_s, u"Run?"_s, u"t"_s, u"e"_s, t0));
    expectRoundTrip(sampleDraft());
    expectRoundTrip(DesktopCodingRequestDraft{});
}

TEST(DesktopCodingJson, KeysAreTheFieldNamesAndOptionalsAreLeftOut) {
    const Json json = parsed(toDesktopJson(richThread()));
    EXPECT_EQ(json.at("bridgeSessionID"), "s-1");
    EXPECT_EQ(json.at("upstreamThreadID"), "up-1");
    EXPECT_EQ(json.at("permission"), "bypass_permissions");
    EXPECT_EQ(json.at("thinking"), "xhigh");
    EXPECT_EQ(json.at("updatedAt"), "2026-03-01T09:30:03.125Z"); // the last appended event's time
    const Json &image = json.at("session").at("events").at(0).at("images").at(0);
    EXPECT_EQ(image, Json::parse(R"({"kind":"screenshot","b64PNG":"QUI="})")); // no id

    const Json bare = parsed(toDesktopJson(thread(u"bare"_s)));
    EXPECT_FALSE(bare.contains("bridgeSessionID"));
    EXPECT_FALSE(bare.contains("upstreamThreadID"));
    EXPECT_FALSE(parsed(toDesktopJson(DesktopCodingRequestDraft{})).contains("projectID"));
}

TEST(DesktopCodingJson, EventReadingFillsDefaultsAndNormalises) {
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const DesktopCodingEvent minimal = decodeOrFail<DesktopCodingEvent>(R"({"kind":"failed"})");
    EXPECT_FALSE(QUuid::fromString(minimal.id).isNull());
    EXPECT_EQ(minimal.summary, u"Failed"_s);
    EXPECT_EQ(minimal.detail, std::nullopt);
    EXPECT_TRUE(minimal.images.isEmpty());
    EXPECT_GE(minimal.createdAt, before);

    const DesktopCodingEvent messy = decodeOrFail<DesktopCodingEvent>(
        R"({"id":" e1 ","kind":"status","summary":"  Ready ","detail":" ","images":null,"createdAt":null})");
    EXPECT_EQ(messy.id, u"e1"_s);
    EXPECT_EQ(messy.summary, u"Ready"_s);
    EXPECT_EQ(messy.detail, std::nullopt);

    const DesktopCodingEvent image = decodeOrFail<DesktopCodingEvent>(
        R"({"kind":"userMessage","images":[{"kind":"sketch","b64PNG":"QUI=","id":"ignored"}]})");
    ASSERT_EQ(image.images.size(), 1);
    EXPECT_EQ(image.images[0].id, u"sketch:4:QUI="_s);
}

TEST(DesktopCodingJson, MalformedInputFailsWithoutThrowing) {
    const std::pair<const char *, const char *> eventCases[] = {
        {R"({"summary":"no kind"})", "kind"},
        {R"({"kind":"user_message"})", "user_message"},
        {R"({"kind":"status","createdAt":"yesterday"})", "createdAt"},
        {R"({"kind":"status","images":{}})", "images"},
        {R"(["kind","status"])", "object"},
        {R"({"kind":)", ""},
    };
    for (const auto &[text, mention] : eventCases) {
        const auto decoded = fromDesktopJson<DesktopCodingEvent>(QByteArray(text));
        ASSERT_FALSE(decoded.hasValue()) << text;
        EXPECT_TRUE(decoded.error().description.contains(QString::fromUtf8(mention)))
            << decoded.error().description.toStdString();
    }

    Json threadJson = parsed(toDesktopJson(richThread()));
    threadJson.erase("allowWeb");
    EXPECT_FALSE(fromDesktopJson<DesktopCodingThread>(bytes(threadJson)).hasValue());
    for (const auto &[key, value] :
         {std::pair{"access", Json("admin")}, std::pair{"allowWeb", Json("yes")}}) {
        threadJson = parsed(toDesktopJson(richThread()));
        threadJson[key] = value;
        EXPECT_FALSE(fromDesktopJson<DesktopCodingThread>(bytes(threadJson)).hasValue()) << key;
    }
    EXPECT_FALSE(fromDesktopJson<DesktopCodingAgent>(QByteArray(R"("gemini")")).hasValue());
    EXPECT_FALSE(
        fromDesktopJson<DesktopCodingTurnImage>(QByteArray(R"({"kind":"photo","b64PNG":""})")).hasValue());
    EXPECT_FALSE(fromDesktopJson<DesktopCodingProject>(QByteArray("")).hasValue());
}

} // namespace
} // namespace rirudez
