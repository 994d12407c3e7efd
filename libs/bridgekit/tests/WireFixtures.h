#pragma once

// The golden frames under tests/data/frames and the values they stand for. Each fixture file holds a
// frame exactly as the encoder writes it (defaults included), so one table serves decoding, encoding
// and round-trip tests, on the client side (bridge kit) and on the server side (apps/bridge).

#include "rirudez/bridgekit/BridgeJson.h"
#include "rirudez/bridgekit/BridgeMessages.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace rirudez::fixtures {
using namespace Qt::StringLiterals;

// Folder of the test data: $RIRUDEZ_TEST_DATA, or the folder beside this header.
inline QString dataDirectory() {
    if (const char *fromEnvironment = std::getenv("RIRUDEZ_TEST_DATA"); fromEnvironment && *fromEnvironment)
        return QString::fromLocal8Bit(fromEnvironment);
    const QString here = QString::fromUtf8(__FILE__);
    return here.left(here.lastIndexOf(u'/')) + u"/data"_s;
}

// Bytes of tests/data/frames/<folder>/<name>.json; empty when the file cannot be read.
inline QByteArray readFrame(const QString &folder, const QString &name) {
    QFile file(dataDirectory() + u"/frames/"_s + folder + u'/' + name + u".json"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

template <typename Value>
struct Golden {
    std::string name; // file name without ".json"; also the test's name
    Value value;
};

inline BridgeProject fullProject() {
    return {.id = u"p-1"_s,
            .name = u"Rirudez"_s,
            .rootDisplay = u"~/src/rirudez"_s,
            .gitStatus = BridgeProjectGitStatus{true, u"main"_s, true},
            .capabilities = {true, true, {u"watch"_s, u"ask"_s, u"propose"_s, u"edit"_s, u"admin"_s}},
            .defaultAccess = u"propose"_s,
            .allowWeb = false};
}

inline BridgeProject minimalProject() {
    return {.id = u"p-2"_s, .name = u"Scratch"_s};
}

inline RepoSessionSummary fullSummary() {
    return {.sessionID = u"s-1"_s,
            .projectID = u"p-1"_s,
            .upstreamThreadID = u"th-9"_s,
            .agent = Agent::codex,
            .model = u"gpt-5"_s,
            .thinkingEffort = ThinkingEffort::xhigh,
            .permissionMode = AgentPermissionMode::dangerouslyBypassPermissions,
            .access = RepoAccessMode::edit,
            .allowWeb = true};
}

inline RepoSessionSummary minimalSummary() {
    return {.sessionID = u"s-2"_s,
            .projectID = u"p-2"_s,
            .agent = Agent::claude,
            .access = RepoAccessMode::watch,
            .allowWeb = false};
}

inline constexpr std::uint64_t maxCount = std::numeric_limits<std::uint64_t>::max();

// Frames the bridge sends (tests/data/frames/bridge).
inline std::vector<Golden<BridgeMessage>> bridgeFrames() {
    using M = BridgeMessage;
    using E = RepoSessionEvent;
    return {
        {"hello",
         {M::Hello{u"Zad Ezarur on studio"_s,
                   {u"claude"_s, u"codex"_s, u"gemini"_s},
                   {AgentModels{Agent::claude, u"opus"_s, {u"opus"_s, u"sonnet"_s}},
                    AgentModels{Agent::codex, std::nullopt, {}}},
                   {fullProject(), minimalProject()},
                   1}}},
        {"status", {M::Status{u"t-1"_s, TurnState::working}}},
        {"event", {M::Event{u"t-1"_s, u"file_changed"_s, u"Edited README.md"_s}}},
        {"result",
         {M::Result{TurnResult{u"t-1"_s, u"Done."_s, 0.0425, u"https://example.invalid/preview/t-1"_s,
                               TokenUsage{maxCount, 512, 0, 4096, 77, 9000000000ULL, 0.0425}}}}},
        {"result_minimal", {M::Result{TurnResult{u"t-2"_s, u""_s, 0.0, std::nullopt, std::nullopt}}}},
        {"projects", {M::Projects{u"r-1"_s, {fullProject()}}}},
        {"project_registered", {M::ProjectRegistered{u"r-2"_s, minimalProject()}}},
        {"repo_sessions", {M::RepoSessions{u"r-3"_s, {fullSummary(), minimalSummary()}}}},
        {"repo_session_opened", {M::RepoSessionOpened{u"r-4"_s, fullSummary()}}},
        {"repo_event_status", {M::RepoEvent{u"s-1"_s, 7, E{E::Status{TurnState::working}}}}},
        {"repo_event_assistant_text",
         {M::RepoEvent{u"s-1"_s, maxCount, E{E::AssistantText{u"Grüße 👋 \"quoted\"\n\ttab"_s}}}}},
        {"repo_error",
         {M::RepoError{u"r-5"_s, u"s-1"_s, ErrorCode::turnInFlight, u"A turn is already running"_s}}},
        {"repo_error_minimal",
         {M::RepoError{std::nullopt, std::nullopt, ErrorCode::badRequest, u"missing prompt"_s}}},
        {"error", {M::Error{u"t-1"_s, ErrorCode::unknown(u"quota_exceeded"_s), u"Quota exceeded"_s}}},
        {"error_minimal", {M::Error{std::nullopt, std::nullopt, u"Unauthorized"_s}}},
        {"pong", {M::Pong{}}},
    };
}

// Frames the client sends (tests/data/frames/client).
inline std::vector<Golden<ClientMessage>> clientFrames() {
    using M = ClientMessage;
    return {
        {"auth", {M::Auth{u"0123abcd"_s}}},
        {"turn",
         {M::Turn{TurnRequest{.turnID = u"t-1"_s,
                              .project = u"p-1"_s,
                              .prompt = u"Fix the build"_s,
                              .images = {TurnImage{ImageKind::screenshot, u"iVBORw0KGgo="_s},
                                         TurnImage{ImageKind::markup, u"AAAA"_s}},
                              .voiceTranscript = u"fix the build please"_s,
                              .mode = TurnMode::ask,
                              .allowWeb = true,
                              .agent = Agent::codex,
                              .systemPrompt = u"Be brief."_s,
                              .model = u"gpt-5"_s,
                              .thinkingEffort = ThinkingEffort::high,
                              .permissionMode = AgentPermissionMode::auto_}}}},
        {"turn_minimal",
         {M::Turn{TurnRequest{.turnID = u"t-2"_s,
                              .project = u"p-1"_s,
                              .prompt = u"Hi"_s,
                              .mode = TurnMode::build,
                              .allowWeb = false,
                              .agent = Agent::claude}}}},
        {"list_projects", {M::ListProjects{u"r-1"_s}}},
        {"register_project",
         {M::RegisterProject{u"r-2"_s, u"Rirudez"_s, u"rirudez"_s, RepoAccessMode::propose,
                             RepoAccessMode::edit, true, true}}},
        {"register_project_minimal",
         {M::RegisterProject{u"r-3"_s, u"Scratch"_s, std::nullopt, RepoAccessMode::watch, RepoAccessMode::ask,
                             false, false}}},
        {"list_repo_sessions", {M::ListRepoSessions{u"r-4"_s, u"p-1"_s}}},
        {"list_repo_sessions_all", {M::ListRepoSessions{u"r-5"_s, std::nullopt}}},
        {"open_repo_session",
         {M::OpenRepoSession{u"r-6"_s, u"p-1"_s, Agent::codex, u"gpt-5"_s, ThinkingEffort::max,
                             AgentPermissionMode::readOnly, RepoAccessMode::ask, false}}},
        {"open_repo_session_minimal",
         {M::OpenRepoSession{u"r-7"_s, u"p-2"_s, Agent::claude, std::nullopt, std::nullopt, std::nullopt,
                             RepoAccessMode::edit, true}}},
        {"subscribe_repo_session", {M::SubscribeRepoSession{u"s-1"_s}}},
        {"repo_message",
         {M::RepoMessage{u"s-1"_s,
                         u"m-1"_s,
                         u"Add a test"_s,
                         {TurnImage{ImageKind::sketch, u"iVBORw0KGgo="_s}},
                         u"add a test"_s,
                         RepoMessageSettings{u"opus"_s, ThinkingEffort::low, AgentPermissionMode::acceptEdits,
                                             RepoAccessMode::propose, true}}}},
        {"repo_message_minimal",
         {M::RepoMessage{u"s-1"_s, u"m-2"_s, u"Go on"_s, {}, std::nullopt, std::nullopt}}},
        {"repo_message_minimal_settings",
         {M::RepoMessage{
             u"s-2"_s,
             u"m-3"_s,
             u"Look only"_s,
             {},
             std::nullopt,
             RepoMessageSettings{std::nullopt, std::nullopt, std::nullopt, RepoAccessMode::watch, false}}}},
        {"repo_approval_response",
         {M::RepoApprovalResponse{u"s-1"_s, u"a-1"_s, RepoApprovalDecision::denied}}},
        {"cancel_repo_message", {M::CancelRepoMessage{u"s-1"_s}}},
        {"cancel", {M::Cancel{u"t-1"_s}}},
        {"ping", {M::Ping{}}},
    };
}

// Repo-session events (tests/data/frames/events).
inline std::vector<Golden<RepoSessionEvent>> events() {
    using E = RepoSessionEvent;
    return {
        {"session_opened", {E::SessionOpened{fullSummary()}}},
        {"session_updated", {E::SessionUpdated{minimalSummary()}}},
        {"user_message",
         {E::UserMessage{u"m-1"_s, u"Add a test"_s, {TurnImage{ImageKind::sketch, u"iVBORw0KGgo="_s}}}}},
        {"user_message_no_images", {E::UserMessage{u"m-2"_s, u"Go on"_s, {}}}},
        {"status", {E::Status{TurnState::done}}},
        {"assistant_text", {E::AssistantText{u"Looking at the failing test…"_s}}},
        {"tool_use", {E::ToolUse{u"Bash"_s}}},
        {"approval_requested", {E::ApprovalRequested{u"a-1"_s, u"m-1"_s, u"shell"_s, u"Run make test"_s}}},
        {"approval_resolved", {E::ApprovalResolved{u"a-1"_s, RepoApprovalDecision::approved}}},
        {"created_file",
         {E::CreatedFile{RepoSessionCreatedFile{u"f-1"_s, u"Plan"_s, u"plan.md"_s, u"document"_s,
                                                u"text/markdown"_s, u"IyBQbGFu"_s}}}},
        {"created_file_minimal",
         {E::CreatedFile{
             RepoSessionCreatedFile{u"f-2"_s, u"Notes"_s, std::nullopt, std::nullopt, std::nullopt, u""_s}}}},
        {"result", {E::Result{u"All green."_s, TokenUsage{.inputTokens = 1200, .outputTokens = 340}}}},
        {"result_no_usage", {E::Result{u"Stopped."_s, std::nullopt}}},
        {"error", {E::Error{ErrorCode::rateLimited, u"Slow down"_s}}},
        {"error_unknown_code", {E::Error{ErrorCode::unknown(u"agent_exploded"_s), u"Boom"_s}}},
    };
}

template <typename Value>
void PrintTo(const Golden<Value> &golden, std::ostream *os) {
    *os << golden.name;
}

// gtest parameter names: the fixture's name.
struct GoldenName {
    template <typename Info>
    std::string operator()(const Info &info) const {
        return info.param.name;
    }
};

} // namespace rirudez::fixtures

namespace rirudez {
// Readable failure output: events and client frames print as their JSON, bridge frames as their type.
inline void PrintTo(const BridgeMessage &message, std::ostream *os) {
    *os << "BridgeMessage(" << message.type().toStdString() << ")";
}
inline void PrintTo(const RepoSessionEvent &event, std::ostream *os) {
    *os << encodeRepoSessionEvent(event).toStdString();
}
inline void PrintTo(const ClientMessage &message, std::ostream *os) {
    *os << message.encode().toStdString();
}

namespace fixtures {
// The JSON of a frame, for comparing two encodings regardless of key order.
inline Json parsedJson(const QByteArray &bytes) {
    auto parsed = wire::parse(bytes);
    EXPECT_TRUE(parsed.hasValue()) << bytes.toStdString();
    return parsed ? *parsed : Json();
}

inline std::string descriptionOf(const DecodingError &error) {
    return error.description.toStdString();
}
} // namespace fixtures
} // namespace rirudez
