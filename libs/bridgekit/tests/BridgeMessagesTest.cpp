// The client's frame codecs against the golden fixtures, and the wire rules that catch real faults:
// defaults, optional members, exact counts, unknown strings, malformed bytes.
#include "WireFixtures.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <gtest/gtest.h>

#include <set>

namespace {
using namespace rirudez;
using namespace Qt::StringLiterals;
using fixtures::descriptionOf;
using fixtures::Golden;
using fixtures::parsedJson;

// ---------------------------------------------------------------------------------------------
// Golden fixtures

class BridgeFrameGolden : public testing::TestWithParam<Golden<BridgeMessage>> {};

TEST_P(BridgeFrameGolden, DecodesToTheExpectedValue) {
    const QByteArray bytes = fixtures::readFrame(u"bridge"_s, QString::fromStdString(GetParam().name));
    ASSERT_FALSE(bytes.isEmpty()) << "missing fixture " << GetParam().name;
    const auto decoded = decodeBridgeMessage(bytes);
    ASSERT_TRUE(decoded.hasValue()) << descriptionOf(decoded.error());
    EXPECT_EQ(*decoded, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BridgeFrameGolden, testing::ValuesIn(fixtures::bridgeFrames()),
                         fixtures::GoldenName());

class ClientFrameGolden : public testing::TestWithParam<Golden<ClientMessage>> {};

TEST_P(ClientFrameGolden, EncodesToTheFixture) {
    const QByteArray bytes = fixtures::readFrame(u"client"_s, QString::fromStdString(GetParam().name));
    ASSERT_FALSE(bytes.isEmpty()) << "missing fixture " << GetParam().name;
    const QByteArray encoded = GetParam().value.encode();
    EXPECT_EQ(parsedJson(encoded), parsedJson(bytes)) << encoded.toStdString();
    EXPECT_FALSE(encoded.contains('\n')) << "frames are sent compact, one per message";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ClientFrameGolden, testing::ValuesIn(fixtures::clientFrames()),
                         fixtures::GoldenName());

class EventGolden : public testing::TestWithParam<Golden<RepoSessionEvent>> {};

TEST_P(EventGolden, DecodesToTheValueAndEncodesToTheFixture) {
    const QByteArray bytes = fixtures::readFrame(u"events"_s, QString::fromStdString(GetParam().name));
    ASSERT_FALSE(bytes.isEmpty()) << "missing fixture " << GetParam().name;
    const QByteArray encoded = encodeRepoSessionEvent(GetParam().value);
    EXPECT_EQ(parsedJson(encoded), parsedJson(bytes)) << encoded.toStdString();
    const auto decoded = decodeRepoSessionEvent(bytes);
    ASSERT_TRUE(decoded.hasValue()) << descriptionOf(decoded.error());
    EXPECT_EQ(*decoded, GetParam().value);
}

TEST_P(EventGolden, DecodesInsideARepoEventFrame) {
    const QByteArray event = fixtures::readFrame(u"events"_s, QString::fromStdString(GetParam().name));
    const QByteArray frame = R"({"type":"repo_event","session_id":"s-9","sequence":3,"event":)" + event + "}";
    const auto decoded = decodeBridgeMessage(frame);
    ASSERT_TRUE(decoded.hasValue()) << descriptionOf(decoded.error());
    EXPECT_EQ(*decoded, (BridgeMessage{BridgeMessage::RepoEvent{u"s-9"_s, 3, GetParam().value}}));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EventGolden, testing::ValuesIn(fixtures::events()),
                         fixtures::GoldenName());

TEST(GoldenCoverage, EveryFrameTypeAndEventKindHasAFixture) {
    std::set<QString> bridgeTypes, clientTypes, eventKinds;
    for (const auto &golden : fixtures::bridgeFrames())
        bridgeTypes.insert(golden.value.type());
    for (const auto &golden : fixtures::clientFrames())
        clientTypes.insert(golden.value.type());
    for (const auto &golden : fixtures::events())
        eventKinds.insert(golden.value.kind());
    EXPECT_EQ(bridgeTypes.size(), std::variant_size_v<BridgeMessage::Value>);
    EXPECT_EQ(clientTypes.size(), std::variant_size_v<ClientMessage::Value>);
    EXPECT_EQ(eventKinds.size(), std::variant_size_v<RepoSessionEvent::Value>);
}

// ---------------------------------------------------------------------------------------------
// Frames that decode although they differ from what the encoder writes

struct Accepted {
    std::string name;
    QByteArray text;
    BridgeMessage expected;
};

void PrintTo(const Accepted &accepted, std::ostream *os) {
    *os << accepted.text.toStdString();
}

class BridgeFrameAccepted : public testing::TestWithParam<Accepted> {};

TEST_P(BridgeFrameAccepted, DecodesToTheExpectedValue) {
    const auto decoded = decodeBridgeMessage(GetParam().text);
    ASSERT_TRUE(decoded.hasValue()) << descriptionOf(decoded.error());
    EXPECT_EQ(*decoded, GetParam().expected);
}

std::vector<Accepted> acceptedFrames() {
    using M = BridgeMessage;
    const TurnResult bareResult{u"t"_s, u"x"_s, 2.0, std::nullopt, std::nullopt};
    return {
        {"HelloWithoutModelsAndProjects",
         R"({"type":"hello","name":"b","agents":[],"protocol":1})",
         {M::Hello{u"b"_s, {}, {}, {}, 1}}},
        {"HelloWithNullLists",
         R"({"type":"hello","name":"b","agents":["x"],"models":null,"projects":null,"protocol":2})",
         {M::Hello{u"b"_s, {u"x"_s}, {}, {}, 2}}},
        {"HelloWithLenientRecords",
         R"({"type":"hello","name":"b","agents":[],"protocol":1,"models":[{"agent":"codex"}],
             "projects":[{"id":"p","name":"n","git_status":{},"capabilities":{"access_modes":["root"]}}]})",
         {M::Hello{u"b"_s,
                   {},
                   {AgentModels{Agent::codex, std::nullopt, {}}},
                   {BridgeProject{
                       u"p"_s, u"n"_s, std::nullopt, BridgeProjectGitStatus{}, {false, false, {u"root"_s}}}},
                   1}}},
        {"PongWithOtherKeys", R"({"type":"pong","request_id":"r","extra":[1,{"a":null}]})", {M::Pong{}}},
        {"ErrorWithOnlyMessage",
         R"({"type":"error","message":"m"})",
         {M::Error{std::nullopt, std::nullopt, u"m"_s}}},
        {"ErrorWithNullTurnAndCode",
         R"({"type":"error","turn_id":null,"code":null,"message":"m"})",
         {M::Error{std::nullopt, std::nullopt, u"m"_s}}},
        {"ErrorWithKnownCode",
         R"({"type":"error","code":"rate_limited","message":"m"})",
         {M::Error{std::nullopt, ErrorCode::rateLimited, u"m"_s}}},
        {"RepoErrorWithoutRequestAndSession",
         R"({"type":"repo_error","code":"agent_failed","message":"m"})",
         {M::RepoError{std::nullopt, std::nullopt, ErrorCode::agentFailed, u"m"_s}}},
        {"RepoErrorWithUnknownCode",
         R"({"type":"repo_error","code":"","message":"m"})",
         {M::RepoError{std::nullopt, std::nullopt, ErrorCode::unknown(u""_s), u"m"_s}}},
        {"ResultWithNullUsageAndPreview",
         R"({"type":"result","turn_id":"t","text":"x","cost_usd":2,"usage":null,"preview_url":null})",
         {M::Result{bareResult}}},
        {"ResultWithEmptyUsage",
         R"({"type":"result","turn_id":"t","text":"x","cost_usd":2.0,"usage":{}})",
         {M::Result{TurnResult{u"t"_s, u"x"_s, 2.0, std::nullopt, TokenUsage{}}}}},
        {"EscapedStrings",
         R"({"type":"status","turn_id":"\u00e9\ud83d\udc4b\"\\\/","state":"done"})",
         {M::Status{u"é👋\"\\/"_s, TurnState::done}}},
        {"SurroundingWhitespace", " \n\t{\"type\":\"pong\"}\r\n ", {M::Pong{}}},
        {"DuplicateKeyLastWins",
         R"({"type":"status","turn_id":"a","turn_id":"b","state":"done"})",
         {M::Status{u"b"_s, TurnState::done}}},
        {"ProtocolNegative",
         R"({"type":"hello","name":"b","agents":[],"protocol":-3})",
         {M::Hello{u"b"_s, {}, {}, {}, -3}}},
    };
}

INSTANTIATE_TEST_SUITE_P(Rules, BridgeFrameAccepted, testing::ValuesIn(acceptedFrames()),
                         fixtures::GoldenName());

// ---------------------------------------------------------------------------------------------
// Frames that fail as a whole, with the description that names why

struct Rejected {
    std::string name;
    QByteArray text;
    std::string description;
};

void PrintTo(const Rejected &rejected, std::ostream *os) {
    *os << rejected.text.left(200).toStdString();
}

class BridgeFrameRejected : public testing::TestWithParam<Rejected> {};

TEST_P(BridgeFrameRejected, FailsWithTheDescription) {
    const auto decoded = decodeBridgeMessage(GetParam().text);
    ASSERT_FALSE(decoded.hasValue()) << "decoded as " << decoded->type().toStdString();
    EXPECT_EQ(descriptionOf(decoded.error()), GetParam().description);
}

std::vector<Rejected> rejectedFrames() {
    const QByteArray repoEvent =
        R"({"type":"repo_event","session_id":"s","event":{"kind":"status","state":"done"},)";
    const QByteArray usage = R"({"type":"result","turn_id":"t","text":"x","cost_usd":1,"usage":)";
    return {
        {"UnknownType", R"({"type":"subscribe_repo_session","session_id":"s"})",
         "unknown bridge frame type subscribe_repo_session"},
        {"TypeDiffersInCase", R"({"type":"Pong"})", "unknown bridge frame type Pong"},
        {"UnknownEventKind",
         R"({"type":"repo_event","session_id":"s","sequence":1,"event":{"kind":"thinking","text":"x"}})",
         "unknown repo session event kind thinking"},
        {"MissingType", R"({"message":"m"})", "key not found: type"},
        {"TypeNotAString", R"({"type":7})", "type mismatch for key type: expected string"},
        {"HelloWithoutProtocol", R"({"type":"hello","name":"b","agents":[]})", "key not found: protocol"},
        {"HelloProtocolFractional", R"({"type":"hello","name":"b","agents":[],"protocol":1.5})",
         "type mismatch for key protocol: expected integer"},
        {"HelloProtocolBeyondInt", R"({"type":"hello","name":"b","agents":[],"protocol":2147483648})",
         "integer out of range for key protocol"},
        {"HelloAgentsNotStrings", R"({"type":"hello","name":"b","agents":["claude",1],"protocol":1})",
         "type mismatch for key agents: expected string"},
        {"HelloModelWithUnknownAgent",
         R"({"type":"hello","name":"b","agents":[],"protocol":1,"models":[{"agent":"gemini"}]})",
         "unknown value \"gemini\" for key agent"},
        {"ErrorWithoutMessage", R"({"type":"error","turn_id":"t","code":"internal_error"})",
         "key not found: message"},
        {"ErrorCodeNotAString", R"({"type":"error","code":5,"message":"m"})",
         "type mismatch for key code: expected string"},
        {"RepoErrorWithoutCode", R"({"type":"repo_error","request_id":"r","message":"m"})",
         "key not found: code"},
        {"RepoErrorWithNullCode", R"({"type":"repo_error","code":null,"message":"m"})",
         "type mismatch for key code: expected string"},
        {"StatusWithUnknownState", R"({"type":"status","turn_id":"t","state":"paused"})",
         "unknown value \"paused\" for key state"},
        {"RequiredMemberNull", R"({"type":"status","turn_id":null,"state":"done"})",
         "type mismatch for key turn_id: expected string"},
        {"ResultWithoutCost", R"({"type":"result","turn_id":"t","text":"x"})", "key not found: cost_usd"},
        {"ResultCostAsString", R"({"type":"result","turn_id":"t","text":"x","cost_usd":"1"})",
         "type mismatch for key cost_usd: expected number"},
        {"UsageNotAnObject", usage + R"("lots"})", "type mismatch for key usage: expected object"},
        {"UsageCountBeyond64Bits", usage + R"({"output_tokens":18446744073709551616}})",
         "count is not an unsigned 64-bit integer for key output_tokens"},
        {"UsageCountNegative", usage + R"({"total_tokens":-1}})", "negative count for key total_tokens"},
        {"UsageCountFractional", usage + R"({"input_tokens":1.5}})",
         "count is not an unsigned 64-bit integer for key input_tokens"},
        {"UsageCountWholeDouble", usage + R"({"input_tokens":12.0}})",
         "count is not an unsigned 64-bit integer for key input_tokens"},
        {"UsageCountAsString", usage + R"({"input_tokens":"12"}})",
         "type mismatch for key input_tokens: expected unsigned integer"},
        {"SequenceMissing", repoEvent.chopped(1) + "}", "key not found: sequence"},
        {"SequenceNegative", repoEvent + R"("sequence":-7})", "negative count for key sequence"},
        {"EventNotAnObject", R"({"type":"repo_event","session_id":"s","sequence":1,"event":"status"})",
         "type mismatch for key event: expected object"},
        {"EventWithoutKind",
         R"({"type":"repo_event","session_id":"s","sequence":1,"event":{"state":"done"}})",
         "key not found: kind"},
        {"SessionWithUnknownAccess",
         R"({"type":"repo_session_opened","request_id":"r","session":{"session_id":"s","project_id":"p","agent":"claude","access":"admin","allow_web":true}})",
         "unknown value \"admin\" for key access"},
        {"SessionWithoutAllowWeb",
         R"({"type":"repo_session_opened","request_id":"r","session":{"session_id":"s","project_id":"p","agent":"claude","access":"ask"}})",
         "key not found: allow_web"},
        {"SessionWithUnknownEffort",
         R"({"type":"repo_sessions","request_id":"r","sessions":[{"session_id":"s","project_id":"p","agent":"claude","thinking_effort":"extreme","access":"ask","allow_web":true}]})",
         "unknown value \"extreme\" for key thinking_effort"},
        {"SessionAllowWebAsNumber",
         R"({"type":"repo_session_opened","request_id":"r","session":{"session_id":"s","project_id":"p","agent":"claude","access":"ask","allow_web":1}})",
         "type mismatch for key allow_web: expected boolean"},
        {"ProjectsNotAList", R"({"type":"projects","request_id":"r","projects":{}})",
         "type mismatch for key projects: expected array"},
        {"ProjectWithoutName", R"({"type":"project_registered","request_id":"r","project":{"id":"p"}})",
         "key not found: name"},
        {"CreatedFileWithTitleKey",
         R"({"type":"repo_event","session_id":"s","sequence":1,"event":{"kind":"created_file","file":{"id":"f","title":"t","b64_data":""}}})",
         "key not found: name"},
        {"ApprovalResolvedUnknownDecision",
         R"({"type":"repo_event","session_id":"s","sequence":1,"event":{"kind":"approval_resolved","approval_id":"a","decision":"maybe"}})",
         "unknown value \"maybe\" for key decision"},
        {"NotAnObject", R"(["type","pong"])", "type mismatch: expected object"},
        {"Empty", "", "invalid JSON near byte 1"},
        {"Truncated", R"({"type":"po)", "invalid JSON near byte 12"},
        {"TrailingBytes", R"({"type":"pong"}{})", "invalid JSON near byte 16"},
        {"InvalidUtf8InString", "{\"type\":\"pong\",\"x\":\"\xc3\x28\"}", "invalid JSON near byte 22"},
        {"LoneSurrogateEscape", R"({"type":"\ud800"})", "invalid JSON near byte 16"},
        {"NumberOverflowsDouble", R"({"type":"pong","x":1e400})", "invalid JSON near byte 24"},
        {"NestedTooDeep", "{\"type\":\"pong\",\"x\":" + QByteArray(64, '[') + QByteArray(64, ']') + "}",
         "JSON nested deeper than 64 levels"},
        {"HugelyNested", QByteArray(1'000'000, '['), "JSON nested deeper than 64 levels"},
    };
}

INSTANTIATE_TEST_SUITE_P(Rules, BridgeFrameRejected, testing::ValuesIn(rejectedFrames()),
                         fixtures::GoldenName());

TEST(BridgeFrameNesting, SixtyFourLevelsAreAccepted) {
    // The frame object is level 1, so 63 arrays inside it reach exactly the limit.
    const QByteArray frame = "{\"type\":\"pong\",\"x\":" + QByteArray(63, '[') + QByteArray(63, ']') + "}";
    EXPECT_TRUE(decodeBridgeMessage(frame).hasValue());
}

// ---------------------------------------------------------------------------------------------
// Records and events on their own

TEST(ErrorCodeRules, CodeThatOnlyResemblesAKnownOneIsKeptAndReencodedExactly) {
    const auto code = wire::as<ErrorCode>(Json("Rate_Limited "), "code");
    EXPECT_TRUE(code.isUnknown());
    EXPECT_EQ(wire::toJson(code), Json("Rate_Limited "));
}

TEST(RecordRules, BridgeProjectKeepsUnknownAccessModeStrings) {
    const auto project =
        Json::parse(
            R"({"id":"p","name":"n","capabilities":{"access_modes":["edit","superuser"]},"default_access":"x"})")
            .get<BridgeProject>();
    EXPECT_EQ(project.capabilities.accessModes, (QStringList{u"edit"_s, u"superuser"_s}));
    EXPECT_EQ(project.defaultAccess, u"x"_s);
}

TEST(RecordRules, TurnRequestWithoutAgentIsClaude) {
    const auto request =
        Json::parse(
            R"({"turn_id":"t","project":"p","prompt":"x","images":[],"mode":"ask","allow_web":false})")
            .get<TurnRequest>();
    EXPECT_EQ(request.agent, Agent::claude);
}

TEST(RecordRules, TurnRequestWithoutImagesFails) {
    const Json json =
        Json::parse(R"({"turn_id":"t","project":"p","prompt":"x","mode":"ask","allow_web":false})");
    EXPECT_THROW(json.get<TurnRequest>(), WireFormatError);
}

TEST(BridgeHealthRules, DecodesTheHealthDocument) {
    const auto health = decodeBridgeHealth(
        R"({"ok":true,"name":"studio","agents":["claude","aider"],"protocol":1,
            "models":[{"agent":"codex","default_model":"gpt-5","models":["gpt-5"]}],
            "projects":[{"id":"p","name":"n","allow_web":true}]})");
    ASSERT_TRUE(health.hasValue()) << descriptionOf(health.error());
    BridgeProject project{u"p"_s, u"n"_s};
    project.allowWeb = true;
    EXPECT_EQ(*health, (BridgeHealth{true,
                                     u"studio"_s,
                                     {u"claude"_s, u"aider"_s},
                                     {AgentModels{Agent::codex, u"gpt-5"_s, {u"gpt-5"_s}}},
                                     {project},
                                     1}));
}

TEST(BridgeHealthRules, ModelsAndProjectsAreOptionalOtherMembersRequired) {
    EXPECT_TRUE(decodeBridgeHealth(R"({"ok":false,"name":"n","agents":[],"protocol":0})").hasValue());
    EXPECT_EQ(descriptionOf(decodeBridgeHealth(R"({"ok":true,"name":"n","protocol":1})").error()),
              "key not found: agents");
    EXPECT_EQ(
        descriptionOf(decodeBridgeHealth(R"({"ok":"yes","name":"n","agents":[],"protocol":1})").error()),
        "type mismatch for key ok: expected boolean");
}

} // namespace
