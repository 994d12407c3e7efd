// JSON forms of the wire vocabulary's enumerations and records, and the bounded parser behind every
// frame decoder.
#include "rirudez/bridgekit/BridgeJson.h"

#include <utility>
#include <vector>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace wire {

namespace {

// Builds the DOM of one JSON text like nlohmann's own parser, but refuses nesting deeper than
// maxNestingDepth (so later recursive walks over the value stay shallow). Strings and keys are copied
// out of the lexer's token buffer, not moved: a copy is one exact-size allocation, while moving would
// leave the lexer to regrow its buffer step by step for every following string.
class BoundedDomBuilder {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    explicit BoundedDomBuilder(Json &root) : m_root(root) { m_stack.reserve(16); }

    bool null() { return put(nullptr) != nullptr; }
    bool boolean(bool value) { return put(value) != nullptr; }
    bool number_integer(number_integer_t value) { return put(value) != nullptr; }
    bool number_unsigned(number_unsigned_t value) { return put(value) != nullptr; }
    bool number_float(number_float_t value, const string_t &) { return put(value) != nullptr; }
    bool string(string_t &value) { return put(std::as_const(value)) != nullptr; }
    bool binary(binary_t &) { return false; } // never produced by JSON text

    bool start_object(std::size_t) { return open(Json::value_t::object); }
    bool key(string_t &key) {
        m_slot = &m_stack.back()->get_ref<Json::object_t &>()[std::as_const(key)];
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Json::value_t::array); }
    bool end_array() { return close(); }

    bool parse_error(std::size_t position, const std::string &, const Json::exception &) {
        m_errorPosition = position;
        return false;
    }

    bool tooDeep() const { return m_tooDeep; }
    std::size_t errorPosition() const { return m_errorPosition; }

private:
    template <typename Value>
    Json *put(Value &&value) {
        if (m_stack.empty()) {
            m_root = Json(std::forward<Value>(value));
            return &m_root;
        }
        Json &parent = *m_stack.back();
        if (parent.is_array()) {
            auto &array = parent.get_ref<Json::array_t &>();
            array.emplace_back(std::forward<Value>(value));
            return &array.back();
        }
        *m_slot = Json(std::forward<Value>(value));
        return m_slot;
    }
    bool open(Json::value_t type) {
        if (m_stack.size() >= maxNestingDepth) {
            m_tooDeep = true;
            return false;
        }
        m_stack.push_back(put(type));
        return true;
    }
    bool close() {
        m_stack.pop_back();
        return true;
    }

    Json &m_root;
    std::vector<Json *> m_stack;
    Json *m_slot = nullptr;
    bool m_tooDeep = false;
    std::size_t m_errorPosition = 0;
};

} // namespace

Expected<Json, DecodingError> parse(QByteArrayView bytes) {
    Json root;
    BoundedDomBuilder builder(root);
    bool ok = false;
    try {
        const char *begin = bytes.data();
        ok = Json::sax_parse(begin, begin + bytes.size(), &builder);
    } catch (...) {
        ok = false; // allocation failure: report it like any other undecodable input
    }
    if (ok)
        return root;
    if (builder.tooDeep())
        return DecodingError{u"JSON nested deeper than %1 levels"_s.arg(maxNestingDepth)};
    return DecodingError{u"invalid JSON near byte %1"_s.arg(builder.errorPosition())};
}

QByteArray dump(const Json &json) {
    // The replace handler cannot throw; our strings come from QString and are valid UTF-8 anyway.
    const std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

void fail(std::string message) {
    throw WireFormatError(message);
}

void failTypeMismatch(std::string_view key, std::string_view expected) {
    if (key.empty())
        fail("type mismatch: expected " + std::string(expected));
    fail("type mismatch for key " + std::string(key) + ": expected " + std::string(expected));
}

void expectObject(const Json &json, std::string_view key) {
    if (!json.is_object())
        failTypeMismatch(key, "object");
}

QString toQString(const std::string &utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

std::string toStdString(const QString &text) {
    return text.toStdString();
}

} // namespace wire

// ---------------------------------------------------------------------------------------------
// Enumerations

#define RIRUDEZ_ENUM_JSON(Enum)                                                                              \
    void to_json(Json &json, Enum value) {                                                                   \
        json = wire::toStdString(rawValue(value));                                                           \
    }                                                                                                        \
    void from_json(const Json &json, Enum &value) {                                                          \
        value = wire::as<Enum>(json, {});                                                                    \
    }

RIRUDEZ_ENUM_JSON(Agent)
RIRUDEZ_ENUM_JSON(ThinkingEffort)
RIRUDEZ_ENUM_JSON(RepoAccessMode)
RIRUDEZ_ENUM_JSON(AgentPermissionMode)
RIRUDEZ_ENUM_JSON(TurnMode)
RIRUDEZ_ENUM_JSON(ImageKind)
RIRUDEZ_ENUM_JSON(TurnState)
RIRUDEZ_ENUM_JSON(RepoApprovalDecision)

#undef RIRUDEZ_ENUM_JSON

void to_json(Json &json, const ErrorCode &value) {
    json = wire::toStdString(value.wireValue());
}

// ---------------------------------------------------------------------------------------------
// Records

using wire::readOptional;
using wire::readOr;
using wire::readRequired;
using wire::write;

void to_json(Json &json, const TokenUsage &value) {
    json = Json::object();
    write(json, "input_tokens", value.inputTokens);
    write(json, "output_tokens", value.outputTokens);
    write(json, "cache_creation_input_tokens", value.cacheCreationInputTokens);
    write(json, "cache_read_input_tokens", value.cacheReadInputTokens);
    write(json, "reasoning_tokens", value.reasoningTokens);
    write(json, "total_tokens", value.totalTokens);
    write(json, "estimated_cost_usd", value.estimatedCostUSD);
}

void from_json(const Json &json, TokenUsage &value) {
    wire::expectObject(json, {});
    value.inputTokens = readOptional<std::uint64_t>(json, "input_tokens");
    value.outputTokens = readOptional<std::uint64_t>(json, "output_tokens");
    value.cacheCreationInputTokens = readOptional<std::uint64_t>(json, "cache_creation_input_tokens");
    value.cacheReadInputTokens = readOptional<std::uint64_t>(json, "cache_read_input_tokens");
    value.reasoningTokens = readOptional<std::uint64_t>(json, "reasoning_tokens");
    value.totalTokens = readOptional<std::uint64_t>(json, "total_tokens");
    value.estimatedCostUSD = readOptional<double>(json, "estimated_cost_usd");
}

void to_json(Json &json, const AgentModels &value) {
    json = Json::object();
    write(json, "agent", value.agent);
    write(json, "default_model", value.defaultModel);
    write(json, "models", value.models);
}

void from_json(const Json &json, AgentModels &value) {
    wire::expectObject(json, {});
    value.agent = readRequired<Agent>(json, "agent");
    value.defaultModel = readOptional<QString>(json, "default_model");
    value.models = readOr<QStringList>(json, "models", {});
}

void to_json(Json &json, const BridgeProjectGitStatus &value) {
    json = Json::object();
    write(json, "is_git_worktree", value.isGitWorktree);
    write(json, "branch", value.branch);
    write(json, "has_uncommitted_changes", value.hasUncommittedChanges);
}

void from_json(const Json &json, BridgeProjectGitStatus &value) {
    wire::expectObject(json, {});
    value.isGitWorktree = readOr<bool>(json, "is_git_worktree", false);
    value.branch = readOptional<QString>(json, "branch");
    value.hasUncommittedChanges = readOr<bool>(json, "has_uncommitted_changes", false);
}

void to_json(Json &json, const BridgeProjectCapabilities &value) {
    json = Json::object();
    write(json, "durable_sessions", value.durableSessions);
    write(json, "repo_messages", value.repoMessages);
    write(json, "access_modes", value.accessModes);
}

void from_json(const Json &json, BridgeProjectCapabilities &value) {
    wire::expectObject(json, {});
    value.durableSessions = readOr<bool>(json, "durable_sessions", false);
    value.repoMessages = readOr<bool>(json, "repo_messages", false);
    value.accessModes = readOr<QStringList>(json, "access_modes", {});
}

void to_json(Json &json, const BridgeProject &value) {
    json = Json::object();
    write(json, "id", value.id);
    write(json, "name", value.name);
    write(json, "root_display", value.rootDisplay);
    write(json, "git_status", value.gitStatus);
    write(json, "capabilities", value.capabilities);
    write(json, "default_access", value.defaultAccess);
    write(json, "allow_web", value.allowWeb);
}

void from_json(const Json &json, BridgeProject &value) {
    wire::expectObject(json, {});
    value.id = readRequired<QString>(json, "id");
    value.name = readRequired<QString>(json, "name");
    value.rootDisplay = readOptional<QString>(json, "root_display");
    value.gitStatus = readOptional<BridgeProjectGitStatus>(json, "git_status");
    value.capabilities = readOr<BridgeProjectCapabilities>(json, "capabilities", {});
    value.defaultAccess = readOptional<QString>(json, "default_access");
    value.allowWeb = readOptional<bool>(json, "allow_web");
}

void to_json(Json &json, const RepoSessionSummary &value) {
    json = Json::object();
    write(json, "session_id", value.sessionID);
    write(json, "project_id", value.projectID);
    write(json, "upstream_thread_id", value.upstreamThreadID);
    write(json, "agent", value.agent);
    write(json, "model", value.model);
    write(json, "thinking_effort", value.thinkingEffort);
    write(json, "permission_mode", value.permissionMode);
    write(json, "access", value.access);
    write(json, "allow_web", value.allowWeb);
}

void from_json(const Json &json, RepoSessionSummary &value) {
    wire::expectObject(json, {});
    value.sessionID = readRequired<QString>(json, "session_id");
    value.projectID = readRequired<QString>(json, "project_id");
    value.upstreamThreadID = readOptional<QString>(json, "upstream_thread_id");
    value.agent = readRequired<Agent>(json, "agent");
    value.model = readOptional<QString>(json, "model");
    value.thinkingEffort = readOptional<ThinkingEffort>(json, "thinking_effort");
    value.permissionMode = readOptional<AgentPermissionMode>(json, "permission_mode");
    value.access = readRequired<RepoAccessMode>(json, "access");
    value.allowWeb = readRequired<bool>(json, "allow_web");
}

void to_json(Json &json, const RepoSessionCreatedFile &value) {
    json = Json::object();
    write(json, "id", value.id);
    write(json, "name", value.title);
    write(json, "file_name", value.fileName);
    write(json, "kind", value.kind);
    write(json, "mime_type", value.mimeType);
    write(json, "b64_data", value.b64Data);
}

void from_json(const Json &json, RepoSessionCreatedFile &value) {
    wire::expectObject(json, {});
    value.id = readRequired<QString>(json, "id");
    value.title = readRequired<QString>(json, "name");
    value.fileName = readOptional<QString>(json, "file_name");
    value.kind = readOptional<QString>(json, "kind");
    value.mimeType = readOptional<QString>(json, "mime_type");
    value.b64Data = readRequired<QString>(json, "b64_data");
}

void to_json(Json &json, const RepoMessageSettings &value) {
    json = Json::object();
    write(json, "model", value.model);
    write(json, "thinking_effort", value.thinkingEffort);
    write(json, "permission_mode", value.permissionMode);
    write(json, "access", value.access);
    write(json, "allow_web", value.allowWeb);
}

void from_json(const Json &json, RepoMessageSettings &value) {
    wire::expectObject(json, {});
    value.model = readOptional<QString>(json, "model");
    value.thinkingEffort = readOptional<ThinkingEffort>(json, "thinking_effort");
    value.permissionMode = readOptional<AgentPermissionMode>(json, "permission_mode");
    value.access = readRequired<RepoAccessMode>(json, "access");
    value.allowWeb = readRequired<bool>(json, "allow_web");
}

void to_json(Json &json, const TurnImage &value) {
    json = Json::object();
    write(json, "kind", value.kind);
    write(json, "b64_png", value.b64PNG);
}

void from_json(const Json &json, TurnImage &value) {
    wire::expectObject(json, {});
    value.kind = readRequired<ImageKind>(json, "kind");
    value.b64PNG = readRequired<QString>(json, "b64_png");
}

// Adds the fields to `json` without clearing it: the `turn` frame writes them next to its "type".
void to_json(Json &json, const TurnRequest &value) {
    if (!json.is_object())
        json = Json::object();
    write(json, "turn_id", value.turnID);
    write(json, "project", value.project);
    write(json, "prompt", value.prompt);
    write(json, "images", value.images);
    write(json, "mode", value.mode);
    write(json, "agent", value.agent);
    write(json, "model", value.model);
    write(json, "voice_transcript", value.voiceTranscript);
    write(json, "allow_web", value.allowWeb);
    write(json, "system_prompt", value.systemPrompt);
    write(json, "thinking_effort", value.thinkingEffort);
    write(json, "permission_mode", value.permissionMode);
}

void from_json(const Json &json, TurnRequest &value) {
    wire::expectObject(json, {});
    value.turnID = readRequired<QString>(json, "turn_id");
    value.project = readRequired<QString>(json, "project");
    value.prompt = readRequired<QString>(json, "prompt");
    value.images = readRequired<QList<TurnImage>>(json, "images");
    value.voiceTranscript = readOptional<QString>(json, "voice_transcript");
    value.mode = readRequired<TurnMode>(json, "mode");
    value.allowWeb = readRequired<bool>(json, "allow_web");
    value.agent = readOr<Agent>(json, "agent", Agent::claude);
    value.systemPrompt = readOptional<QString>(json, "system_prompt");
    value.model = readOptional<QString>(json, "model");
    value.thinkingEffort = readOptional<ThinkingEffort>(json, "thinking_effort");
    value.permissionMode = readOptional<AgentPermissionMode>(json, "permission_mode");
}

// Adds the fields to `json` without clearing it: the `result` frame carries them next to its "type".
void to_json(Json &json, const TurnResult &value) {
    if (!json.is_object())
        json = Json::object();
    write(json, "turn_id", value.turnID);
    write(json, "text", value.text);
    write(json, "cost_usd", value.costUSD);
    write(json, "preview_url", value.previewURL);
    write(json, "usage", value.usage);
}

void from_json(const Json &json, TurnResult &value) {
    wire::expectObject(json, {});
    value.turnID = readRequired<QString>(json, "turn_id");
    value.text = readRequired<QString>(json, "text");
    value.costUSD = readRequired<double>(json, "cost_usd");
    value.previewURL = readOptional<QString>(json, "preview_url");
    value.usage = readOptional<TokenUsage>(json, "usage");
}

void to_json(Json &json, const BridgeHealth &value) {
    json = Json::object();
    write(json, "ok", value.ok);
    write(json, "name", value.name);
    write(json, "agents", value.agents);
    write(json, "models", value.models);
    write(json, "projects", value.projects);
    write(json, "protocol", value.protocol);
}

void from_json(const Json &json, BridgeHealth &value) {
    wire::expectObject(json, {});
    value.ok = readRequired<bool>(json, "ok");
    value.name = readRequired<QString>(json, "name");
    value.agents = readRequired<QStringList>(json, "agents");
    value.models = readOr<QList<AgentModels>>(json, "models", {});
    value.projects = readOr<QList<BridgeProject>>(json, "projects", {});
    value.protocol = readRequired<int>(json, "protocol");
}

} // namespace rirudez
