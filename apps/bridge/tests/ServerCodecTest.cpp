// Round trips between the bridge service's codec and the client's: what one side encodes, the other
// decodes to the same value; plus the frames the server refuses.
#include "ServerCodec.h"

#include "../../../libs/bridgekit/tests/WireFixtures.h"
#include "rirudez/bridgekit/BridgeJson.h"

#include <gtest/gtest.h>

#include <random>

namespace {
using namespace rirudez;
using namespace Qt::StringLiterals;
using fixtures::descriptionOf;
using fixtures::Golden;

// Golden values: what the server encodes the client decodes, and the reverse. (The fixture bytes
// themselves are checked by the client-side golden tests.)

class ServerBridgeFrameGolden : public testing::TestWithParam<Golden<BridgeMessage>> {};
TEST_P(ServerBridgeFrameGolden, ClientDecodesWhatTheServerEncodes) {
    const auto decoded = decodeBridgeMessage(encodeBridgeMessage(GetParam().value));
    ASSERT_TRUE(decoded.hasValue()) << descriptionOf(decoded.error());
    EXPECT_EQ(*decoded, GetParam().value);
}
INSTANTIATE_TEST_SUITE_P(Fixtures, ServerBridgeFrameGolden, testing::ValuesIn(fixtures::bridgeFrames()),
                         fixtures::GoldenName());

class ServerClientFrameGolden : public testing::TestWithParam<Golden<ClientMessage>> {};
TEST_P(ServerClientFrameGolden, ServerDecodesWhatTheClientEncodes) {
    const auto decoded = decodeClientMessage(GetParam().value.encode());
    ASSERT_TRUE(decoded.hasValue()) << descriptionOf(decoded.error());
    EXPECT_EQ(*decoded, GetParam().value);
}
INSTANTIATE_TEST_SUITE_P(Fixtures, ServerClientFrameGolden, testing::ValuesIn(fixtures::clientFrames()),
                         fixtures::GoldenName());

TEST(ServerCodecRules, TurnWithoutAgentRunsClaude) {
    const auto decoded = decodeClientMessage(
        R"({"type":"turn","turn_id":"t","project":"p","prompt":"x","images":[],"mode":"build","allow_web":true,"model":null})");
    ASSERT_TRUE(decoded.hasValue()) << descriptionOf(decoded.error());
    EXPECT_EQ(decoded->as<ClientMessage::Turn>()->request.agent, Agent::claude);
    EXPECT_FALSE(decoded->as<ClientMessage::Turn>()->request.model.has_value());
}

TEST(ServerCodecRules, MalformedClientFramesFailWithANamedReason) {
    const std::vector<std::pair<QByteArray, std::string>> cases{
        {R"({"type":"hello","name":"x"})", "unknown client frame type hello"},
        {R"({"type":"turn","turn_id":"t","project":"p","prompt":"x","mode":"build","allow_web":true})",
         "key not found: images"},
        {R"({"type":"auth","token":12345})", "type mismatch for key token: expected string"},
        {R"({"type":"repo_message","session_id":"s","message_id":"m","prompt":"p","images":[],"settings":{"access":"root","allow_web":true}})",
         "unknown value \"root\" for key access"},
        {R"({"type":"repo_approval_response","session_id":"s","approval_id":"a","decision":"yes"})",
         "unknown value \"yes\" for key decision"},
        {R"({"type":"register_project","request_id":"r","name":"n","default_access":"ask","max_access":"edit","allow_web":true})",
         "key not found: initialize_git"},
        {R"({"type":"ping"} trailing)", "invalid JSON near byte 19"},
    };
    for (const auto &[text, description] : cases) {
        const auto decoded = decodeClientMessage(text);
        ASSERT_FALSE(decoded.hasValue()) << text.toStdString();
        EXPECT_EQ(descriptionOf(decoded.error()), description) << text.toStdString();
    }
}

TEST(ServerCodecRules, AuthTokenNeverAppearsInADecodingError) {
    const QByteArray secret = "s3cr3t-token-value";
    for (const QByteArray &text : {R"({"type":"auth","token":")" + secret + R"(" broken)",
                                   R"({"type":"auth","token":")" + secret + "\xff\"}",
                                   R"({"type":"auth","token":[")" + secret + R"("]})"}) {
        const auto decoded = decodeClientMessage(text);
        ASSERT_FALSE(decoded.hasValue());
        EXPECT_FALSE(decoded.error().description.contains(QString::fromUtf8(secret)))
            << descriptionOf(decoded.error());
    }
}

TEST(ServerCodecRules, HealthAndSessionSummaryRoundTrip) {
    const BridgeHealth health{true,
                              u"studio"_s,
                              {u"claude"_s},
                              {AgentModels{Agent::codex, u"m"_s, {u"m"_s}}},
                              {fixtures::fullProject(), fixtures::minimalProject()},
                              bridgeProtocolVersion};
    const auto decodedHealth = decodeBridgeHealth(encodeBridgeHealth(health));
    ASSERT_TRUE(decodedHealth.hasValue()) << descriptionOf(decodedHealth.error());
    EXPECT_EQ(*decodedHealth, health);

    const auto decodedSummary = decodeRepoSessionSummary(encodeRepoSessionSummary(fixtures::fullSummary()));
    ASSERT_TRUE(decodedSummary.hasValue()) << descriptionOf(decodedSummary.error());
    EXPECT_EQ(*decodedSummary, fixtures::fullSummary());
}

// Randomized round trips: every optional present or absent, odd strings, extreme numbers.

class ValueGenerator {
public:
    explicit ValueGenerator(std::uint64_t seed) : m_random(seed) {}

    bool coin() { return (m_random() & 1) != 0; }
    std::size_t below(std::size_t bound) { return std::size_t(m_random() % bound); }

    QString text() {
        static const QStringList pieces{u""_s,       u"a"_s,    u"s-1"_s,  u"é"_s,      u"👋"_s,
                                        u"\""_s,     u"\\"_s,   u"\n\t"_s, u"\u0001"_s, u"null"_s,
                                        u"{}"_s,     u" "_s,    u"日本"_s, u"\u2028"_s, u"</script>"_s,
                                        u"\u00a0"_s, u"type"_s, u"0"_s};
        QString result;
        for (std::size_t n = below(5); n > 0; --n)
            result += pieces[qsizetype(below(std::size_t(pieces.size())))];
        return result;
    }
    template <typename T, typename Make>
    std::optional<T> maybe(Make make) {
        if (coin())
            return make();
        return std::nullopt;
    }
    std::optional<QString> maybeText() {
        return maybe<QString>([this] { return text(); });
    }
    template <typename Enum, std::size_t N>
    Enum pick(const std::array<Enum, N> &all) {
        return all[below(N)];
    }
    std::uint64_t count() {
        switch (below(4)) {
        case 0:
            return 0;
        case 1:
            return std::numeric_limits<std::uint64_t>::max();
        case 2:
            return std::uint64_t(1) << 53 | 1; // not representable as a double
        default:
            return m_random();
        }
    }
    double money() { return double(below(1'000'000)) / 1000.0; }
    template <typename Make>
    auto listOf(Make make) {
        QList<decltype(make())> list;
        for (std::size_t n = below(3); n > 0; --n)
            list.append(make());
        return list;
    }
    QStringList texts() {
        return listOf([this] { return text(); });
    }
    ErrorCode errorCode() {
        if (coin())
            return ErrorCode(ErrorCode::Known(below(13)));
        return ErrorCode::unknown(text());
    }
    TurnState turnState() {
        return std::array{TurnState::received, TurnState::working, TurnState::done,
                          TurnState::cancelled}[below(4)];
    }
    TurnImage image() {
        return {std::array{ImageKind::sketch, ImageKind::screenshot, ImageKind::markup}[below(3)], text()};
    }
    QList<TurnImage> images() {
        return listOf([this] { return image(); });
    }
    TokenUsage usage() {
        auto c = [this] { return maybe<std::uint64_t>([this] { return count(); }); };
        return {c(), c(), c(), c(), c(), c(), maybe<double>([this] { return money(); })};
    }
    BridgeProject project() {
        return {text(),
                text(),
                maybeText(),
                maybe<BridgeProjectGitStatus>([this] {
                    return BridgeProjectGitStatus{coin(), maybeText(), coin()};
                }),
                {coin(), coin(), texts()},
                maybeText(),
                maybe<bool>([this] { return coin(); })};
    }
    QList<BridgeProject> projects() {
        return listOf([this] { return project(); });
    }
    RepoSessionSummary summary() {
        return {text(),
                text(),
                maybeText(),
                pick(allAgents),
                maybeText(),
                maybe<ThinkingEffort>([this] { return pick(allThinkingEfforts); }),
                maybe<AgentPermissionMode>([this] { return pick(allAgentPermissionModes); }),
                pick(allRepoAccessModes),
                coin()};
    }
    RepoSessionEvent event() {
        using E = RepoSessionEvent;
        switch (below(11)) {
        case 0:
            return {E::SessionOpened{summary()}};
        case 1:
            return {E::SessionUpdated{summary()}};
        case 2:
            return {E::UserMessage{text(), text(), images()}};
        case 3:
            return {E::Status{turnState()}};
        case 4:
            return {E::AssistantText{text()}};
        case 5:
            return {E::ToolUse{text()}};
        case 6:
            return {E::ApprovalRequested{text(), text(), text(), text()}};
        case 7:
            return {E::ApprovalResolved{text(), pick(allRepoApprovalDecisions)}};
        case 8:
            return {E::CreatedFile{
                RepoSessionCreatedFile{text(), text(), maybeText(), maybeText(), maybeText(), text()}}};
        case 9:
            return {E::Result{text(), maybe<TokenUsage>([this] { return usage(); })}};
        default:
            return {E::Error{errorCode(), text()}};
        }
    }
    BridgeMessage bridgeMessage() {
        using M = BridgeMessage;
        switch (below(12)) {
        case 0:
            return {M::Hello{text(), texts(), listOf([this] {
                                 return AgentModels{pick(allAgents), maybeText(), texts()};
                             }),
                             projects(), int(m_random())}};
        case 1:
            return {M::Status{text(), turnState()}};
        case 2:
            return {M::Event{text(), text(), text()}};
        case 3:
            return {M::Result{TurnResult{text(), text(), money(), maybeText(),
                                         maybe<TokenUsage>([this] { return usage(); })}}};
        case 4:
            return {M::Projects{text(), projects()}};
        case 5:
            return {M::ProjectRegistered{text(), project()}};
        case 6:
            return {M::RepoSessions{text(), listOf([this] { return summary(); })}};
        case 7:
            return {M::RepoSessionOpened{text(), summary()}};
        case 8:
            return {M::RepoEvent{text(), count(), event()}};
        case 9:
            return {M::RepoError{maybeText(), maybeText(), errorCode(), text()}};
        case 10:
            return {M::Error{maybeText(), maybe<ErrorCode>([this] { return errorCode(); }), text()}};
        default:
            return {M::Pong{}};
        }
    }

private:
    std::mt19937_64 m_random;
};

// Every frame the server encodes survives the trip to the client, and absent members are omitted,
// never null. (Client frames are checked against the server with the golden values above.)
TEST(RandomizedRoundTrip, ClientDecodesWhatTheServerEncodes) {
    ValueGenerator generate(0x5eed'b41d'9e);
    for (int i = 0; i < 2000; ++i) {
        const BridgeMessage message = generate.bridgeMessage();
        const QByteArray bytes = encodeBridgeMessage(message);
        const auto decoded = decodeBridgeMessage(bytes);
        ASSERT_TRUE(decoded.hasValue()) << descriptionOf(decoded.error()) << " in " << bytes.toStdString();
        ASSERT_EQ(*decoded, message) << bytes.toStdString();
        ASSERT_FALSE(bytes.contains(":null")) << bytes.toStdString();
    }
}

} // namespace
