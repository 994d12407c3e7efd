// The activity log's stored form: round trips, what must be present, what is ignored, and the log's
// derived values.

#include "DesktopBridgeActivityLog.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

QDateTime at(qint64 msecs) {
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

DesktopBridgeActivity activity(const QString &id, DesktopBridgeActivityKind kind,
                               qint64 msecs = 1'765'000'000'123) {
    return DesktopBridgeActivity{id, kind, u"summary "_s + id, {}, {}, {}, at(msecs)};
}

struct RoundTripCase {
    const char *name;
    DesktopBridgeActivityLog log;
    std::vector<const char *> presentKeys;
    std::vector<const char *> absentKeys;
};

class ActivityLogRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ActivityLogRoundTrip, WritesOnlyPresentKeysAndReadsBackAnEqualLog) {
    const RoundTripCase &c = GetParam();
    const QByteArray bytes = encodeDesktopBridgeActivityLog(c.log);
    for (const char *key : c.presentKeys)
        EXPECT_TRUE(bytes.contains(u"\"%1\""_s.arg(QLatin1StringView(key)).toUtf8()))
            << key << bytes.constData();
    for (const char *key : c.absentKeys)
        EXPECT_FALSE(bytes.contains(u"\"%1\""_s.arg(QLatin1StringView(key)).toUtf8()))
            << key << bytes.constData();
    const auto decoded = decodeDesktopBridgeActivityLog(bytes);
    ASSERT_TRUE(decoded) << decoded.error().description.toStdString();
    EXPECT_EQ(*decoded, c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, ActivityLogRoundTrip,
    ::testing::Values(RoundTripCase{"empty", {}, {"entries"}, {"id"}},
                      RoundTripCase{"absentOptionals",
                                    {{activity(u"a"_s, DesktopBridgeActivityKind::toolUse)}},
                                    {"entries", "id", "kind", "summary", "createdAt"},
                                    {"projectID", "agent", "model"}},
                      RoundTripCase{"everyKindAndOptional",
                                    {{DesktopBridgeActivity{u"w"_s, DesktopBridgeActivityKind::working,
                                                            u"Bridge turn working"_s, u"demo"_s, u"codex"_s,
                                                            u"gpt-5.4"_s, at(1'000)},
                                      DesktopBridgeActivity{u"t"_s,
                                                            DesktopBridgeActivityKind::text,
                                                            u"Ünïcødé ✓ \"quoted\""_s,
                                                            u""_s,
                                                            {},
                                                            {},
                                                            at(2'001)},
                                      activity(u"c"_s, DesktopBridgeActivityKind::completed),
                                      activity(u"f"_s, DesktopBridgeActivityKind::failed)}},
                                    {"projectID", "agent", "model", "working", "text", "completed", "failed"},
                                    {}}),
    [](const auto &row) { return std::string(row.param.name); });

struct DecodeCase {
    const char *name;
    const char *json;
    bool succeeds;
};

class ActivityLogDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ActivityLogDecoding, AcceptsOrRefuses) {
    const auto decoded = decodeDesktopBridgeActivityLog(QByteArray(GetParam().json));
    EXPECT_EQ(bool(decoded), GetParam().succeeds);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, ActivityLogDecoding,
    ::testing::Values(
        DecodeCase{"emptyEntries", R"({"entries":[]})", true}, DecodeCase{"noEntries", R"({})", false},
        DecodeCase{"entriesNotArray", R"({"entries":{}})", false},
        DecodeCase{"notJson", R"({"entries":[)", false}, DecodeCase{"notObject", R"([])", false},
        DecodeCase{
            "unknownKind",
            R"({"entries":[{"id":"a","kind":"thinking","summary":"","createdAt":"2026-12-06T00:00:00.000Z"}]})",
            false},
        DecodeCase{
            "kindIsCaseSensitive",
            R"({"entries":[{"id":"a","kind":"ToolUse","summary":"","createdAt":"2026-12-06T00:00:00.000Z"}]})",
            false},
        DecodeCase{"missingSummary",
                   R"({"entries":[{"id":"a","kind":"text","createdAt":"2026-12-06T00:00:00.000Z"}]})", false},
        DecodeCase{"badTime",
                   R"({"entries":[{"id":"a","kind":"text","summary":"","createdAt":"yesterday"}]})", false},
        DecodeCase{
            "numberAgent",
            R"({"entries":[{"id":"a","kind":"text","summary":"","agent":3,"createdAt":"2026-12-06T00:00:00.000Z"}]})",
            false},
        DecodeCase{
            "nullOptionalAndUnknownKeys",
            R"({"v":2,"entries":[{"id":"a","kind":"text","summary":"","model":null,"extra":[1],"createdAt":"2026-12-06T00:00:00.000Z"}]})",
            true}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(ActivityLog, NullOptionalReadsAsAbsentAndTimeKeepsMilliseconds) {
    const auto decoded = decodeDesktopBridgeActivityLog(
        R"({"entries":[{"id":"a","kind":"failed","summary":"x","model":null,"createdAt":"2026-12-06T00:15:02.123Z"}]})");
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->entries.size(), 1);
    EXPECT_FALSE(decoded->entries[0].model.has_value());
    EXPECT_EQ(decoded->entries[0].kind, DesktopBridgeActivityKind::failed);
    EXPECT_EQ(decoded->entries[0].createdAt.toMSecsSinceEpoch() % 1000, 123);
}

TEST(ActivityLog, RecentEntriesAreNewestFirstAndCapacityDropsTheOldest) {
    DesktopBridgeActivityLog log;
    EXPECT_FALSE(log.latest().has_value());
    for (int i = 0; i < 5; ++i)
        log.append(activity(QString::number(i), DesktopBridgeActivityKind::toolUse), 3);
    ASSERT_EQ(log.entries.size(), 3);
    EXPECT_EQ(log.entries.first().id, u"2"_s);
    EXPECT_EQ(log.latest()->id, u"4"_s);
    const auto recent = log.recentEntries(2);
    ASSERT_EQ(recent.size(), 2);
    EXPECT_EQ(recent[0].id, u"4"_s);
    EXPECT_EQ(recent[1].id, u"3"_s);
    EXPECT_EQ(log.recentEntries(10).size(), 3);
    EXPECT_TRUE(log.recentEntries(-1).isEmpty());
}

TEST(ActivityLog, LabelsTreatBlankOptionalsAsAbsent) {
    DesktopBridgeActivity entry{
        u"a"_s, DesktopBridgeActivityKind::completed, u"  "_s, u" demo "_s, u"  "_s, u"gpt-5.4"_s, at(0)};
    EXPECT_EQ(entry.displayTitle(), fallbackSummary(DesktopBridgeActivityKind::completed));
    EXPECT_EQ(entry.contextLabel(), u"demo · gpt-5.4"_s);
    entry.summary = u" Ran tests "_s;
    entry.projectID.reset();
    entry.model = u""_s;
    EXPECT_EQ(entry.displayTitle(), u"Ran tests"_s);
    EXPECT_EQ(entry.contextLabel(), u""_s);
}

} // namespace
} // namespace rirudez
