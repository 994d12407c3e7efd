// The desktop's conversation records: catalogue and project mapping, runtime modes and permissions, the
// chat/activity split over realistic logs, titles and snippets with multi-unit characters, images and drafts.
// The JSON forms are in DesktopCodingHarnessJsonTest.cpp.
#include "DesktopCodingRecordFixtures.h"

#include "rirudez/bridgekit/BridgeJson.h"
#include "rirudez/bridgekit/RepoSessionProjection.h"

#include <QUuid>

namespace rirudez {
namespace {
using namespace Qt::StringLiterals;
using namespace rirudez::testing;

// ---------------------------------------------------------------------------------------------
// Enumerations, runtime modes and permissions.

TEST(DesktopCodingEnumerations, UnknownRawStringsFailAndThinkingMapsToTheBridge) {
    EXPECT_FALSE(fromRaw<DesktopCodingAgent>(u"Codex"_s));
    EXPECT_FALSE(fromRaw<DesktopCodingThinkingLevel>(u"auto"_s));
    EXPECT_FALSE(fromRaw<DesktopCodingEventKind>(u"user_message"_s));
    EXPECT_EQ(bridgeThinkingEffort(DesktopCodingThinkingLevel::automatic), std::nullopt);
    EXPECT_EQ(desktopCodingThinkingLevel(ThinkingEffort::max), DesktopCodingThinkingLevel::xhigh);
    EXPECT_EQ(desktopCodingThinkingLevel(std::nullopt), std::nullopt);
    for (DesktopCodingAgent agent : allDesktopCodingAgents)
        EXPECT_EQ(desktopCodingAgent(bridgeAgent(agent)), agent);
}

TEST(DesktopCodingRuntimeModes, ModeFollowsThePermissionOnly) {
    for (RepoAccessMode access : allRepoAccessModes) {
        for (AgentPermissionMode permission : allAgentPermissionModes) {
            const auto expected = permission == AgentPermissionMode::bypassPermissions
                                      ? DesktopCodingRuntimeMode::skipPermissions
                                      : DesktopCodingRuntimeMode::sandbox;
            EXPECT_EQ(desktopCodingRuntimeMode(access, permission), expected)
                << rawValue(permission).toStdString();
        }
    }
}

TEST(DesktopCodingRuntimeModes, AccessDependsOnWhatTheProjectSupports) {
    DesktopCodingProject proposeOnly;
    proposeOnly.supportedAccessModes = {RepoAccessMode::watch, RepoAccessMode::propose};
    DesktopCodingProject everything = DesktopCodingProject::sampleProjects().first();

    for (DesktopCodingRuntimeMode mode : allDesktopCodingRuntimeModes) {
        EXPECT_EQ(access(mode, std::nullopt), RepoAccessMode::edit);
        EXPECT_EQ(access(mode, proposeOnly), RepoAccessMode::propose);
        EXPECT_EQ(access(mode, everything), RepoAccessMode::edit);
    }

    DesktopCodingProject empty;
    empty.supportedAccessModes.clear();
    EXPECT_EQ(empty.sandboxAccessMode(), RepoAccessMode::ask);
    EXPECT_EQ(access(DesktopCodingRuntimeMode::skipPermissions, empty), RepoAccessMode::ask);
}

TEST(DesktopCodingRuntimeModes, PermissionPerAgentAndHydration) {
    EXPECT_EQ(permission(DesktopCodingRuntimeMode::sandbox, DesktopCodingAgent::claude),
              AgentPermissionMode::acceptEdits);
    EXPECT_EQ(permission(DesktopCodingRuntimeMode::sandbox, DesktopCodingAgent::codex),
              AgentPermissionMode::auto_);
    for (DesktopCodingAgent agent : allDesktopCodingAgents) {
        EXPECT_EQ(permission(DesktopCodingRuntimeMode::skipPermissions, agent),
                  AgentPermissionMode::bypassPermissions);
        // Every permission a mode picks is one the agent offers, and maps back to the same mode.
        for (DesktopCodingRuntimeMode mode : allDesktopCodingRuntimeModes) {
            EXPECT_TRUE(desktopDefaults(agent).contains(permission(mode, agent)));
            EXPECT_EQ(desktopCodingRuntimeMode(RepoAccessMode::edit, permission(mode, agent)), mode);
        }
    }
    EXPECT_EQ(desktopHydrated(AgentPermissionMode::readOnly), std::nullopt);
    EXPECT_EQ(desktopHydrated(std::nullopt), std::nullopt);
    EXPECT_EQ(desktopHydrated(AgentPermissionMode::dangerouslyBypassPermissions),
              AgentPermissionMode::bypassPermissions);
    for (auto kept : {AgentPermissionMode::ask, AgentPermissionMode::auto_, AgentPermissionMode::acceptEdits,
                      AgentPermissionMode::bypassPermissions})
        EXPECT_EQ(desktopHydrated(kept), kept);
}

// ---------------------------------------------------------------------------------------------
// Model catalogue.

struct ModelNameCase {
    const char *id;
    DesktopCodingAgent agent;
    const char *displayName;
    const char *speed;
    int thinkingLevels;
};
void PrintTo(const ModelNameCase &c, std::ostream *os) {
    *os << c.id;
}

class ModelNaming : public ::testing::TestWithParam<ModelNameCase> {};

TEST_P(ModelNaming, DisplayNameSpeedAndThinkingLevels) {
    const ModelNameCase &c = GetParam();
    AgentModels models{bridgeAgent(c.agent), std::nullopt, {q(c.id)}};
    const QList<DesktopCodingModelOption> options = DesktopCodingModelOption::options(models);
    ASSERT_EQ(options.size(), 1);
    EXPECT_EQ(options[0].id, q(c.id).trimmed());
    EXPECT_EQ(options[0].displayName, q(c.displayName));
    EXPECT_EQ(options[0].speedLabel, q(c.speed));
    EXPECT_EQ(options[0].thinkingLevels.size(), c.thinkingLevels);
}

INSTANTIATE_TEST_SUITE_P(
    Advertised, ModelNaming,
    ::testing::Values(
        ModelNameCase{"gpt-5.4-mini", DesktopCodingAgent::codex, "GPT-5.4 Mini", "fast", 4},
        ModelNameCase{"  gpt-5.3-codex ", DesktopCodingAgent::codex, "GPT-5.3-codex", "balanced", 5},
        ModelNameCase{"GPT-5.5-MINI", DesktopCodingAgent::codex, "GPT-5.5-MINI", "fast", 4},
        ModelNameCase{"o4-mini-gpt-x", DesktopCodingAgent::codex, "o4 Mini-GPT-x", "fast", 4},
        ModelNameCase{"claude-opus-4.8", DesktopCodingAgent::claude, "Opus 4.8", "deep", 5},
        ModelNameCase{"claude--sonnet--5-", DesktopCodingAgent::claude, "Sonnet 5", "balanced", 5},
        ModelNameCase{"claude-3-x-haiku", DesktopCodingAgent::claude, "3 x Haiku", "fast", 4},
        ModelNameCase{"claude-\u00e9clair-fast", DesktopCodingAgent::claude, "\u00c9clair Fast", "balanced",
                      5},
        ModelNameCase{"claude-", DesktopCodingAgent::claude, "", "balanced", 5}),
    [](const auto &param) { return "Case" + std::to_string(param.index); });

TEST(DesktopCodingModelCatalogue, CapitalisesTheFirstCharacterEvenWhenItIsCombined) {
    // "e" + combining acute is one character: the whole cluster is upper-cased, the accent is kept.
    EXPECT_EQ(DesktopCodingModelOption::displayNameFor(u"claude-"_s + accentedE + u"tude-2"_s,
                                                       DesktopCodingAgent::claude),
              u"E\u0301tude 2"_s);
}

TEST(DesktopCodingModelCatalogue, AdvertisedListsAreDeduplicatedAndFallBackToTheDefaultModel) {
    const AgentModels noisy{Agent::codex, u"gpt-5.5"_s, {u" gpt-5.4 "_s, u"gpt-5.4"_s, u""_s, u"\t"_s}};
    const QList<DesktopCodingModelOption> options = DesktopCodingModelOption::options(noisy);
    ASSERT_EQ(options.size(), 1);
    EXPECT_EQ(options[0].id, u"gpt-5.4"_s); // the default model is not added to an advertised list

    const AgentModels onlyDefault{Agent::claude, u" claude-opus-4.8 "_s, {}};
    ASSERT_EQ(DesktopCodingModelOption::options(onlyDefault).size(), 1);
    EXPECT_EQ(DesktopCodingModelOption::options(onlyDefault)[0].id, u"claude-opus-4.8"_s);

    // A non-empty list of blanks does not fall back to the default.
    EXPECT_TRUE(DesktopCodingModelOption::options({Agent::codex, u"gpt-5.5"_s, {u" "_s}}).isEmpty());
    EXPECT_TRUE(DesktopCodingModelOption::options({Agent::codex, std::nullopt, {}}).isEmpty());

    EXPECT_EQ(DesktopCodingModelOption::dedupedModelIDs({u"b"_s, u" a"_s, u"b "_s, u"a"_s, u"c"_s}),
              (QStringList{u"b"_s, u"a"_s, u"c"_s}));
}

TEST(DesktopCodingModelCatalogue, CatalogKeepsUsableEntriesAndLaterEntriesReplaceEarlierOnes) {
    const QList<AgentModels> advertised{
        {Agent::codex, std::nullopt, {u"gpt-5.4"_s}},
        {Agent::claude, std::nullopt, {}},                               // nothing usable: agent left out
        {Agent::codex, std::nullopt, {u"gpt-5.5"_s, u"gpt-5.4-mini"_s}}, // replaces the first codex entry
        {Agent::codex, std::nullopt, {u"  "_s}},                         // nothing usable: does not erase
    };
    const DesktopCodingModelCatalog catalog = DesktopCodingModelOption::catalog(advertised);
    EXPECT_FALSE(catalog.contains(DesktopCodingAgent::claude));
    ASSERT_TRUE(catalog.contains(DesktopCodingAgent::codex));
    QStringList ids;
    for (const auto &option : catalog.value(DesktopCodingAgent::codex))
        ids.append(option.id);
    EXPECT_EQ(ids, (QStringList{u"gpt-5.5"_s, u"gpt-5.4-mini"_s}));
    EXPECT_TRUE(DesktopCodingModelOption::catalog({}).isEmpty());
}

// ---------------------------------------------------------------------------------------------
// Projects.

struct ProjectCase {
    std::string name;
    Json bridge;
    Json desktop;
};
void PrintTo(const ProjectCase &c, std::ostream *os) {
    *os << c.name;
}

std::vector<ProjectCase> projectCases() {
    std::vector<ProjectCase> cases;
    for (const Json &c : loadFixture("desktop_projects_from_bridge.json"))
        cases.push_back({c.at("name").get<std::string>(), c.at("bridge"), c.at("desktop")});
    return cases;
}

class ProjectFromBridge : public ::testing::TestWithParam<ProjectCase> {};

TEST_P(ProjectFromBridge, MapsAsRecorded) {
    const BridgeProject bridge = GetParam().bridge.get<BridgeProject>();
    const DesktopCodingProject expected = decodeOrFail<DesktopCodingProject>(bytes(GetParam().desktop));
    const DesktopCodingProject mapped = DesktopCodingProject::fromBridgeProject(bridge);
    EXPECT_EQ(mapped, expected) << toDesktopJson(mapped).toStdString();
    EXPECT_FALSE(mapped.supportedAccessModes.isEmpty());
    EXPECT_EQ(mapped.sandboxAccessMode(), mapped.maxAccess);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ProjectFromBridge, ::testing::ValuesIn(projectCases()),
                         [](const auto &param) { return param.param.name; });

TEST(DesktopCodingProjects, NormalizedAccessModes) {
    using M = RepoAccessMode;
    EXPECT_EQ(DesktopCodingProject::normalizedAccessModes({M::edit, M::watch, M::edit}),
              (QList{M::watch, M::edit}));
    EXPECT_EQ(DesktopCodingProject::normalizedAccessModes({}), QList{M::ask});
    EXPECT_EQ(DesktopCodingProject::normalizedAccessModes({M::propose, M::ask, M::watch, M::edit}),
              (QList{M::watch, M::ask, M::propose, M::edit}));
}

TEST(DesktopCodingProjects, StatusLine) {
    DesktopCodingProject project;
    EXPECT_EQ(project.statusLine(), u"clean"_s);
    project.branch = u"main"_s;
    project.hasUncommittedChanges = true;
    EXPECT_EQ(project.statusLine(), u"main · dirty"_s);
}

// ---------------------------------------------------------------------------------------------
// Events, sessions and threads.

TEST(DesktopCodingEvents, NormalisationKeepsStreamedSpacingOnlyForAssistantText) {
    const DesktopCodingEvent reply(u" a1 "_s, DesktopCodingEventKind::assistantText, u"  indented\n"_s,
                                   u"  "_s);
    EXPECT_EQ(reply.id, u"a1"_s);
    EXPECT_EQ(reply.summary, u"  indented\n"_s);
    EXPECT_FALSE(reply.detail);

    const DesktopCodingEvent status(u""_s, DesktopCodingEventKind::status, u"  Bridge turn done \n"_s,
                                    u" s-1 "_s);
    EXPECT_EQ(status.summary, u"Bridge turn done"_s);
    EXPECT_EQ(status.detail, u"s-1"_s);
    EXPECT_FALSE(QUuid::fromString(status.id).isNull()) << status.id.toStdString();
    EXPECT_NE(DesktopCodingEvent({}, DesktopCodingEventKind::status, {}).id,
              DesktopCodingEvent({}, DesktopCodingEventKind::status, {}).id);
}

TEST(DesktopCodingEvents, BlankSummaryBecomesTheKindsDisplayName) {
    for (DesktopCodingEventKind kind : allDesktopCodingEventKinds) {
        EXPECT_EQ(DesktopCodingEvent(u"e"_s, kind, u""_s).summary, displayName(kind));
        if (kind != DesktopCodingEventKind::assistantText) {
            EXPECT_EQ(DesktopCodingEvent(u"e"_s, kind, u" \t\n"_s).summary, displayName(kind));
        }
    }
}

TEST(DesktopCodingEvents, SessionAndThreadNormalisation) {
    const DesktopCodingSession session(u"  "_s, u"  "_s);
    EXPECT_FALSE(QUuid::fromString(session.id).isNull());
    EXPECT_EQ(session.title, u"New repo session"_s);

    const DesktopCodingThread blank(u" "_s, u" "_s, u" "_s, session, DesktopCodingAgent::claude, u"  "_s,
                                    RepoAccessMode::ask, AgentPermissionMode::ask,
                                    DesktopCodingThinkingLevel::automatic, false, u" "_s, u"\n"_s, t0);
    EXPECT_FALSE(QUuid::fromString(blank.id).isNull());
    EXPECT_EQ((QStringList{blank.projectID, blank.title}), (QStringList{u"project"_s, u"New thread"_s}));
    EXPECT_FALSE(blank.modelID || blank.bridgeSessionID || blank.upstreamThreadID);

    const DesktopCodingThread bound(u" s-1 "_s, u" notes "_s, u" Notes repo session "_s, session,
                                    DesktopCodingAgent::claude, u" claude-opus-4.8 "_s, RepoAccessMode::ask,
                                    AgentPermissionMode::ask, DesktopCodingThinkingLevel::automatic, false,
                                    u" s-1 "_s, u" up-7 "_s, t0);
    EXPECT_EQ((QStringList{bound.id, bound.projectID, bound.title, *bound.modelID, *bound.bridgeSessionID,
                           *bound.upstreamThreadID}),
              (QStringList{u"s-1"_s, u"notes"_s, u"Notes repo session"_s, u"claude-opus-4.8"_s, u"s-1"_s,
                           u"up-7"_s}));
}

struct LogCase {
    std::string name;
    Json events;
    Json chat;
    Json activity;
};
void PrintTo(const LogCase &c, std::ostream *os) {
    *os << c.name;
}

std::vector<LogCase> logCases() {
    std::vector<LogCase> cases;
    for (const Json &c : loadFixture("desktop_chat_activity_logs.json"))
        cases.push_back({c.at("name").get<std::string>(), c.at("events"), c.at("chat"), c.at("activity")});
    return cases;
}

class ChatActivitySplit : public ::testing::TestWithParam<LogCase> {};

TEST_P(ChatActivitySplit, SplitsTheLogAsRecorded) {
    DesktopCodingSession session(u"s"_s, u"Notes"_s);
    for (const Json &raw : GetParam().events)
        session.events.append(decodeOrFail<DesktopCodingEvent>(bytes(raw)));

    Json chat = Json::array(), activity = Json::array();
    for (const DesktopCodingEvent &entry : session.chatEvents())
        chat.push_back({entry.id.toStdString(), entry.summary.toStdString()});
    for (const DesktopCodingEvent &entry : session.activityEvents())
        activity.push_back(entry.id.toStdString());
    EXPECT_EQ(chat, GetParam().chat);
    EXPECT_EQ(activity, GetParam().activity);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ChatActivitySplit, ::testing::ValuesIn(logCases()),
                         [](const auto &param) { return param.param.name; });

TEST(DesktopCodingFixtures, ArePresent) {
    EXPECT_GE(projectCases().size(), 10u);
    EXPECT_GE(logCases().size(), 8u);
}

TEST(DesktopCodingSessions, SplitWordJoinsWithTheFirstIdAndTheSecondTime) {
    const QDateTime later = t0.addSecs(2);
    DesktopCodingSession session(
        u"s"_s, u"t"_s,
        {event(u"u1"_s, DesktopCodingEventKind::userMessage, u"Say it"_s),
         DesktopCodingEvent(u"a1"_s, DesktopCodingEventKind::assistantText, u"Hel"_s, u" note "_s,
                            {DesktopCodingTurnImage(ImageKind::sketch, u"QQ=="_s)}, t0.addSecs(1)),
         event(u"a2"_s, DesktopCodingEventKind::assistantText, u"lo"_s, later)});
    const QList<DesktopCodingEvent> chat = session.chatEvents();
    ASSERT_EQ(chat.size(), 2);
    EXPECT_EQ((QStringList{chat[1].id, chat[1].summary, chat[1].detail.value_or(u"-"_s)}),
              (QStringList{u"a1"_s, u"Hello"_s, u"note"_s}));
    EXPECT_EQ(chat[1].createdAt, later);
    EXPECT_TRUE(chat[1].images.isEmpty());
    EXPECT_EQ(session.events.size(), 3); // the log itself is untouched
}

TEST(DesktopCodingThreads, SubtitleCountsTurnsAndSnipsTheLastChatEntry) {
    EXPECT_EQ(thread(u"t"_s).subtitle(), u"Ready"_s);
    EXPECT_EQ(thread(u"t"_s, {}, u"s-1"_s).subtitle(), u"Waiting for first message"_s);
    // Activity alone is not chat.
    EXPECT_EQ(
        thread(u"t"_s, {event(u"s1"_s, DesktopCodingEventKind::status, u"Bridge turn received"_s)}, u"s-1"_s)
            .subtitle(),
        u"Waiting for first message"_s);

    const DesktopCodingThread one(
        thread(u"t"_s, {event(u"u1"_s, DesktopCodingEventKind::userMessage, u"Hi"_s)}));
    EXPECT_EQ(one.subtitle(), u"1 turn · Hi"_s);

    const QString longReply =
        u"The   build\nnow passes on every platform we ship, including the slow ARM runner."_s;
    const DesktopCodingThread three(
        thread(u"t"_s, {event(u"u1"_s, DesktopCodingEventKind::userMessage, u"a"_s),
                        event(u"u2"_s, DesktopCodingEventKind::userMessage, u"b"_s),
                        event(u"u3"_s, DesktopCodingEventKind::userMessage, u"c"_s),
                        event(u"a1"_s, DesktopCodingEventKind::assistantText, longReply),
                        event(u"d1"_s, DesktopCodingEventKind::completed, u"x"_s)}));
    EXPECT_EQ(three.subtitle(), u"3 turns · The build now passes on every platform we ship, incl..."_s);
}

struct SnippetCase {
    QString text;
    qsizetype maxLength;
    QString expected;
};
void PrintTo(const SnippetCase &c, std::ostream *os) {
    *os << c.text.size() << " units, at most " << c.maxLength;
}

class ChatSnippet : public ::testing::TestWithParam<SnippetCase> {};

TEST_P(ChatSnippet, CollapsesWhitespaceAndCutsWholeCharacters) {
    EXPECT_EQ(chatSnippet(GetParam().text, GetParam().maxLength), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ChatSnippet,
    ::testing::Values(SnippetCase{u"  a \t b\n\n c  "_s, 52, u"a b c"_s},
                      SnippetCase{u"a\u00a0b\u2003c\u3000d\r\ne"_s, 52,
                                  u"a b c d e"_s},                  // no-break, em and ideographic spaces
                      SnippetCase{u"abcd efgh"_s, 5, u"abcd..."_s}, // the cut ends in a space, trimmed away
                      SnippetCase{repeated(family, 52), 52, repeated(family, 52)},
                      SnippetCase{repeated(family, 53), 52, repeated(family, 52) + u"..."_s},
                      SnippetCase{repeated(accentedE, 10) + u" "_s + repeated(flag, 3), 12,
                                  repeated(accentedE, 10) + u" "_s + flag + u"..."_s},
                      SnippetCase{u"caf"_s + accentedE + u" ok"_s, 4, u"caf"_s + accentedE + u"..."_s},
                      SnippetCase{u" \n "_s, 52, u""_s}));

struct RetitleCase {
    QString prompt;
    QString expected;
};
void PrintTo(const RetitleCase &c, std::ostream *os) {
    *os << c.prompt.size() << " units";
}

class RetitleFromPrompt : public ::testing::TestWithParam<RetitleCase> {};

TEST_P(RetitleFromPrompt, TitlesAreCutAt56Characters) {
    DesktopCodingThread subject = thread(u"New thread"_s);
    EXPECT_TRUE(subject.retitleFromFirstPromptIfNeeded(GetParam().prompt));
    EXPECT_EQ(subject.title, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, RetitleFromPrompt,
    ::testing::Values(RetitleCase{u"  "_s + repeated(u"b"_s, 56) + u"\n"_s, repeated(u"b"_s, 56)},
                      RetitleCase{repeated(family, 56), repeated(family, 56)},
                      RetitleCase{repeated(family, 57), repeated(family, 56) + u"..."_s},
                      RetitleCase{repeated(accentedE, 60), repeated(accentedE, 56) + u"..."_s},
                      RetitleCase{repeated(u"x"_s, 55) + u" "_s + flag + u"tail"_s,
                                  repeated(u"x"_s, 55) + u"..."_s}));

TEST(DesktopCodingThreads, RetitlesOnlyWhileTheTitleIsAPlaceholderOrNoPromptWasSent) {
    struct Case {
        QString title;
        bool prompted;
        QString prompt;
        QString expected;
    };
    for (const Case &c : {Case{u"Release notes"_s, true, u"second prompt"_s, u"Release notes"_s},
                          Case{u"Release notes"_s, false, u"first prompt"_s, u"first prompt"_s},
                          Case{u"Notes repo session"_s, true, u"from the tablet"_s, u"from the tablet"_s},
                          Case{u"New thread"_s, true, u"again"_s, u"again"_s},
                          Case{u"New thread"_s, false, u" \n "_s, u"New thread"_s}}) {
        DesktopCodingThread subject = thread(
            c.title, c.prompted ? QList{event(u"u1"_s, DesktopCodingEventKind::userMessage, u"first"_s)}
                                : QList<DesktopCodingEvent>{});
        EXPECT_EQ(subject.retitleFromFirstPromptIfNeeded(c.prompt), c.expected != c.title)
            << c.prompt.toStdString();
        EXPECT_EQ((QStringList{subject.title, subject.session.title}), (QStringList{c.expected, c.expected}));
    }
}

TEST(DesktopCodingThreads, AppendMovesUpdatedAtToTheEvent) {
    DesktopCodingThread subject = thread(u"t"_s);
    const QDateTime earlier = t0.addSecs(-60);
    subject.append(event(u"e1"_s, DesktopCodingEventKind::status, u"x"_s, earlier));
    EXPECT_EQ(subject.updatedAt, earlier);
    ASSERT_EQ(subject.session.events.size(), 1);
    EXPECT_EQ(subject.session.events.last().id, u"e1"_s);
}

// ---------------------------------------------------------------------------------------------
// Turn images, approvals, drafts.

TEST(DesktopCodingTurnImages, IdAndDataOnlyFromStandardBase64) {
    const QString b64 =
        QString::fromLatin1(QByteArray("\x89PNG\r\n\x1a\n-sketch-bytes-of-a-tiny-image!").toBase64());
    ASSERT_EQ(b64.size(), 52);
    const DesktopCodingTurnImage image(ImageKind::sketch, b64);
    EXPECT_EQ(image.id, u"sketch:52:"_s + b64.left(16));
    EXPECT_EQ(image.data(), QByteArray("\x89PNG\r\n\x1a\n-sketch-bytes-of-a-tiny-image!"));

    EXPECT_EQ(DesktopCodingTurnImage(TurnImage{ImageKind::markup, b64}).id, u"markup:52:"_s + b64.left(16));
    EXPECT_EQ(DesktopCodingTurnImage(ImageKind::screenshot, u""_s).data(), QByteArray());
    // Not base64: counted and cut in characters all the same.
    const DesktopCodingTurnImage odd(ImageKind::sketch, repeated(family, 20));
    EXPECT_EQ(odd.id, u"sketch:20:"_s + repeated(family, 16));
    EXPECT_EQ(odd.data(), std::nullopt);
    for (const QString &bad : {u"QQ"_s, u"QQ=A"_s, u"Q Q="_s, u"QQ-_"_s, u"Q==="_s, u"\u00e9\u00e9=="_s})
        EXPECT_EQ(DesktopCodingTurnImage(ImageKind::sketch, bad).data(), std::nullopt) << bad.toStdString();
    EXPECT_EQ(DesktopCodingTurnImage(ImageKind::sketch, u"QUI="_s).data(), QByteArray("AB"));
}

TEST(DesktopCodingDrafts, OpenRepoSessionFrame) {
    DesktopCodingRequestDraft draft = sampleDraft();
    const std::optional<ClientMessage> frame = draft.openRepoSessionMessage(u"req-1"_s);
    ASSERT_TRUE(frame);
    EXPECT_EQ(parsed(frame->encode()), Json::parse(R"({"type":"open_repo_session","request_id":"req-1",
        "project_id":"notes","agent":"claude","model":"claude-opus-4.8","thinking_effort":"xhigh",
        "permission_mode":"accept_edits","access":"propose","allow_web":true})"));

    // Automatic thinking and no model leave both keys out.
    draft.thinking = DesktopCodingThinkingLevel::automatic;
    draft.modelID.reset();
    draft.agent = DesktopCodingAgent::codex;
    EXPECT_EQ(parsed(draft.openRepoSessionMessage(u"req-2"_s)->encode()),
              Json::parse(R"({"type":"open_repo_session","request_id":"req-2","project_id":"notes",
        "agent":"codex","permission_mode":"accept_edits","access":"propose","allow_web":true})"));

    draft.projectID.reset();
    EXPECT_EQ(draft.openRepoSessionMessage(u"req-3"_s), std::nullopt);
}

TEST(DesktopCodingDrafts, RepoMessageFrame) {
    const DesktopCodingRequestDraft draft = sampleDraft();
    const ClientMessage frame = draft.repoMessage(u"s-1"_s, u"m-1"_s);
    EXPECT_EQ(parsed(frame.encode()),
              Json::parse(R"({"type":"repo_message","session_id":"s-1","message_id":"m-1",
        "prompt":"Add a README","images":[],"settings":{"model":"claude-opus-4.8","thinking_effort":"xhigh",
        "permission_mode":"accept_edits","access":"propose","allow_web":true}})"));
}

} // namespace
} // namespace rirudez
