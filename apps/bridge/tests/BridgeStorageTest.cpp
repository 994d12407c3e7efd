// The pieces under the protocol: the state directory and its identity, the session log on disk with
// crash recovery, pairing codes with their lockout, the demo agent's scripts, and the terminal QR code.
#include "DemoAgent.h"
#include "PairingCodes.h"
#include "SessionStore.h"
#include "StateDirectory.h"
#include "TerminalQr.h"

#include "InProcessBridge.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

#include <ZXing/ImageView.h>
#include <ZXing/ReadBarcode.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace rirudez;
using namespace rirudez::server;
using namespace Qt::StringLiterals;
using E = RepoSessionEvent;

namespace {

int modeOf(const QString &path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

RepoSessionSummary summaryFor(const QString &project) {
    RepoSessionSummary summary;
    summary.projectID = project;
    summary.agent = Agent::codex;
    summary.model = u"gpt-5.4"_s;
    summary.access = RepoAccessMode::propose;
    summary.allowWeb = true;
    return summary;
}

// A readable form of a script, branches included, for comparing two scripts.
QString describe(const QList<DemoStep> &script) {
    QString text;
    for (const DemoStep &step : script) {
        text += QString::number(int(step.kind)) + u'|' + step.text + u'|' + step.method + u'|' +
                (step.file ? step.file->b64Data : QString()) + u'|' +
                QString::number(step.usage.inputTokens.value_or(0)) + u'[' + describe(step.ifApproved) +
                u'/' + describe(step.ifDenied) + u"]\n"_s;
    }
    return text;
}

} // namespace

// First start creates private files that later starts reuse, tightening loose modes and rewriting a lost
// fingerprint file.
TEST(StateDirectory, FirstStartCreatesPrivateFilesThatLaterStartsReuse) {
    QTemporaryDir temp;
    const QString path = temp.filePath(u"state"_s);
    auto first = StateDirectory::open(path);
    ASSERT_TRUE(first) << first.error().toStdString();
    EXPECT_TRUE(first->createdIdentity());
    EXPECT_EQ(modeOf(path), 0700);
    EXPECT_EQ(modeOf(path + u"/tls/key.pem"_s), 0600);
    EXPECT_EQ(modeOf(path + u"/token"_s), 0600);

    // The files say exactly what the desktop reads: the token, and the certificate's SHA-256 in hex.
    EXPECT_EQ(readAll(path + u"/token"_s).trimmed(), first->token().toUtf8());
    EXPECT_GE(QByteArray::fromBase64(first->token().toLatin1(), QByteArray::Base64UrlEncoding).size(), 16);
    const QByteArray fingerprint = readAll(path + u"/fingerprint"_s).trimmed();
    const QSslCertificate certificate(first->identity().certificatePem);
    EXPECT_EQ(fingerprint, certificate.digest(QCryptographicHash::Sha256).toHex());

    auto second = StateDirectory::open(path);
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->createdIdentity());
    EXPECT_EQ(second->token(), first->token());
    EXPECT_EQ(second->fingerprint(), first->fingerprint());

    ::chmod(QFile::encodeName(path).constData(), 0755);
    ::chmod(QFile::encodeName(path + u"/token"_s).constData(), 0644);
    QFile::remove(path + u"/fingerprint"_s);
    ASSERT_TRUE(StateDirectory::open(path));
    EXPECT_EQ(modeOf(path), 0700);
    EXPECT_EQ(modeOf(path + u"/token"_s), 0600);
    EXPECT_EQ(readAll(path + u"/fingerprint"_s).trimmed(), first->fingerprint().toLatin1());
}

TEST(SessionStore, TornLastLineIsDroppedAndTheNextEventStartsOnAFreshLine) {
    QTemporaryDir temp;
    QString sessionID;
    {
        SessionStore store(temp.path());
        auto created = store.create(summaryFor(u"demo"_s));
        ASSERT_TRUE(created);
        sessionID = created->sessionID;
        ASSERT_TRUE(
            store.append(sessionID, E{E::ToolUse{u"Read"_s}})); // no turn runs: nothing is added on load
        ASSERT_TRUE(store.append(sessionID, E{E::AssistantText{u"hello"_s}}));
    }
    const QString log = temp.filePath(sessionID + u"/events.jsonl"_s);
    {
        QFile file(log);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(R"({"kind":"assistant_text","text":"cut in the mid)"); // a crash in the middle of a write
    }
    SessionStore reloaded(temp.path());
    EXPECT_EQ(reloaded.load(), 1);
    EXPECT_EQ(reloaded.lastSequence(sessionID), 3u);
    auto next = reloaded.append(sessionID, E{E::Status{TurnState::done}});
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, 4u);
    auto events = reloaded.events(sessionID);
    ASSERT_TRUE(events);
    ASSERT_EQ(events->size(), 4);
    EXPECT_EQ(events->at(2).event, (E{E::AssistantText{u"hello"_s}}));
    EXPECT_EQ(events->at(3).event, (E{E::Status{TurnState::done}}));
    const QList<QByteArray> lines = readAll(log).split('\n');
    EXPECT_EQ(lines.size(), 5); // four lines and the empty rest after the last newline
    EXPECT_TRUE(lines[3].startsWith(R"({"kind":"status")"));
}

// Appends to more sessions than the store keeps logs open for, interleaved: each log holds exactly its own
// events in order, on disk as soon as append returns (read while the store still runs, and after a restart).
TEST(SessionStore, InterleavedAppendsToManySessionsLandInTheirOwnLogs) {
    QTemporaryDir temp;
    constexpr int sessions = 11;
    constexpr int rounds = 5;
    QStringList ids;
    {
        SessionStore store(temp.path());
        for (int s = 0; s < sessions; ++s) {
            auto created = store.create(summaryFor(u"demo"_s));
            ASSERT_TRUE(created);
            ids.append(created->sessionID);
        }
        for (int round = 0; round < rounds; ++round)
            for (int s = 0; s < sessions; ++s) // a stride that revisits logs closed in between
                ASSERT_TRUE(store.append(ids[(s * 7) % sessions],
                                         E{E::AssistantText{u"%1/%2"_s.arg((s * 7) % sessions).arg(round)}}));
        for (int s = 0; s < sessions; ++s) {
            const QByteArray log = readAll(temp.filePath(ids[s] + u"/events.jsonl"_s));
            EXPECT_EQ(log.count('\n'), 1 + rounds) << s;
            EXPECT_TRUE(log.endsWith('\n'));
        }
    }
    SessionStore reopened(temp.path());
    EXPECT_EQ(reopened.load(), sessions);
    for (int s = 0; s < sessions; ++s) {
        auto events = reopened.events(ids[s]);
        ASSERT_TRUE(events);
        ASSERT_EQ(events->size(), 1 + rounds);
        for (int round = 0; round < rounds; ++round) {
            const auto &stored = (*events)[1 + round];
            EXPECT_EQ(stored.sequence, std::uint64_t(2 + round));
            const auto *text = std::get_if<E::AssistantText>(&stored.event.value);
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(text->text, u"%1/%2"_s.arg(s).arg(round));
        }
    }
}

// A log that ends in a running turn (the bridge was killed mid-turn) gets the turn's end on the next load,
// exactly once, after its unanswered approvals are resolved as denied; a log whose last turn ended is left as
// it is.
TEST(SessionStore, ATurnRunningAtTheLastStopIsRecordedAsCancelledOnLoad) {
    const E prompt{E::UserMessage{u"m"_s, u"hi"_s, {}}};
    const auto asks = [](const char *id) {
        return E{E::ApprovalRequested{QString::fromLatin1(id), u"m"_s, u"exec"_s, u"rm -rf build"_s}};
    };
    const auto denied = [](const char *id) {
        return E{E::ApprovalResolved{QString::fromLatin1(id), RepoApprovalDecision::denied}};
    };
    const E cancelled{E::Status{TurnState::cancelled}};
    const struct {
        const char *name;
        QList<E> events;
        QList<E> added; // what the next load appends
    } cases[] = {
        {"a prompt", {prompt}, {cancelled}},
        {"streaming", {prompt, E{E::Status{TurnState::working}}, E{E::AssistantText{u"x"_s}}}, {cancelled}},
        {"waiting on approvals",
         {prompt, asks("a1"), asks("a2"), E{E::ApprovalResolved{u"a1"_s, RepoApprovalDecision::approved}},
          asks("a3")},
         {denied("a2"), denied("a3"), cancelled}},
        {"an approval of an earlier turn",
         {prompt, asks("a1"), E{E::Status{TurnState::done}}, prompt},
         {cancelled}},
        {"a result", {prompt, E{E::Result{u"ok"_s, std::nullopt}}}, {}},
        {"an error", {prompt, E{E::Error{ErrorCode::internalError, u"boom"_s}}}, {}},
        {"done", {E{E::Status{TurnState::received}}, E{E::Status{TurnState::done}}}, {}},
        {"no turn", {E{E::ToolUse{u"Read"_s}}}, {}},
        {"nothing", {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir temp;
        QString sessionID;
        {
            SessionStore store(temp.path());
            auto created = store.create(summaryFor(u"demo"_s));
            ASSERT_TRUE(created);
            sessionID = created->sessionID;
            for (const E &event : c.events)
                ASSERT_TRUE(store.append(sessionID, event));
        }
        const qsizetype written = 1 + c.events.size(); // the session's opening, then the case's events
        for (int load = 0; load < 2; ++load) {
            SessionStore reloaded(temp.path());
            ASSERT_EQ(reloaded.load(), 1);
            const auto events = reloaded.events(sessionID);
            ASSERT_TRUE(events);
            ASSERT_EQ(events->size(), written + c.added.size()) << "load " << load;
            for (qsizetype i = 0; i < c.added.size(); ++i) {
                EXPECT_EQ((*events)[written + i].event, c.added[i]) << i;
                EXPECT_EQ((*events)[written + i].sequence, std::uint64_t(written + i + 1));
            }
        }
    }
}

TEST(SessionStore, DamagedSummaryIsRecoveredFromTheLog) {
    QTemporaryDir temp;
    RepoSessionSummary created;
    {
        SessionStore store(temp.path());
        auto made = store.create(summaryFor(u"demo"_s));
        ASSERT_TRUE(made);
        created = *made;
        RepoSessionSummary changed = created;
        changed.access = RepoAccessMode::edit;
        ASSERT_TRUE(store.updateSummary(changed));
        ASSERT_TRUE(store.append(created.sessionID, E{E::SessionUpdated{changed}}));
        created = changed;
    }
    {
        QFile summary(temp.filePath(created.sessionID + u"/session.json"_s));
        ASSERT_TRUE(summary.open(QIODevice::WriteOnly | QIODevice::Truncate));
        summary.write("{\"session_id\":");
    }
    SessionStore reloaded(temp.path());
    EXPECT_EQ(reloaded.load(), 1);
    EXPECT_EQ(reloaded.summary(created.sessionID), created);
}

TEST(SessionStore, OnlyWellFormedFolderNamesAreSessionsAndListsFilterByProject) {
    QTemporaryDir temp;
    QDir(temp.path()).mkdir(u"Not A Session"_s);
    SessionStore store(temp.path());
    auto a = store.create(summaryFor(u"one"_s));
    auto b = store.create(summaryFor(u"two"_s));
    ASSERT_TRUE(a && b);
    SessionStore reloaded(temp.path());
    EXPECT_EQ(reloaded.load(), 2);
    ASSERT_EQ(reloaded.summaries(u"two"_s).size(), 1);
    EXPECT_EQ(reloaded.summaries(u"two"_s)[0].sessionID, b->sessionID);
    EXPECT_FALSE(isValidSessionID(u"../x"_s));
    EXPECT_FALSE(reloaded.append(u"../x"_s, E{E::Status{TurnState::done}}));
}

TEST(SessionStore, LineCarriesTheWireKindAndSequenceCompactly) {
    const QByteArray line = SessionStore::encodeLine(7, E{E::Result{u"ok"_s, TokenUsage{5, 6}}});
    EXPECT_TRUE(line.contains(R"("kind":"result")"));
    EXPECT_FALSE(line.contains('\n'));
    auto back = SessionStore::decodeLine(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sequence, 7u);
    EXPECT_EQ(back->event, (E{E::Result{u"ok"_s, TokenUsage{5, 6}}}));
    EXPECT_FALSE(SessionStore::decodeLine(R"({"kind":"result","text":"x"})")); // no sequence
    EXPECT_FALSE(SessionStore::decodeLine(R"({"kind":"nope","sequence":1})"));
}

class PairingCodesTest : public ::testing::Test {
protected:
    qint64 now = 1000;
    PairingCodes codes{PairingCodes::Config{6, 3, std::chrono::seconds(60), std::chrono::seconds(300)},
                       [this] { return now; }};
    static QString wrongFor(const QString &code) { return code == u"000000"_s ? u"000001"_s : u"000000"_s; }
};

TEST_F(PairingCodesTest, CodeIsSingleUseAndExpires) {
    const QString code = codes.issue();
    EXPECT_EQ(code.size(), 6);
    EXPECT_EQ(codes.redeem(code).outcome, PairingCodes::Outcome::granted);
    EXPECT_EQ(codes.redeem(code).outcome, PairingCodes::Outcome::wrong);

    const QString late = codes.issue();
    now += 60'000;
    const auto expired = codes.redeem(late);
    EXPECT_EQ(expired.outcome, PairingCodes::Outcome::wrong);
    EXPECT_EQ(expired.attemptsLeft, 1); // the reused code and the expired one both counted
    EXPECT_EQ(codes.redeem({}).attemptsLeft, 0);
    EXPECT_EQ(codes.redeem(codes.issue()).outcome, PairingCodes::Outcome::locked);
}

TEST_F(PairingCodesTest, LockLastsItsTimeThenAFreshSeriesBegins) {
    const QString code = codes.issue();
    const QString wrong = wrongFor(code);
    EXPECT_EQ(codes.redeem(wrong).attemptsLeft, 2);
    EXPECT_EQ(codes.redeem(wrong).attemptsLeft, 1);
    EXPECT_EQ(codes.redeem(wrong).attemptsLeft, 0);
    EXPECT_EQ(codes.redeem(code).outcome, PairingCodes::Outcome::locked);
    now += 299'000;
    EXPECT_EQ(codes.redeem(code).outcome, PairingCodes::Outcome::locked);
    now += 1'000;
    EXPECT_EQ(codes.redeem(code).outcome, PairingCodes::Outcome::wrong); // expired meanwhile
    EXPECT_EQ(codes.redeem(codes.issue()).outcome, PairingCodes::Outcome::granted);
}

TEST_F(PairingCodesTest, SuccessClearsEarlierFailures) {
    const QString code = codes.issue();
    const QString wrong = wrongFor(code);
    codes.redeem(wrong);
    codes.redeem(wrong);
    EXPECT_EQ(codes.redeem(code).outcome, PairingCodes::Outcome::granted);
    codes.issue();
    EXPECT_EQ(codes.redeem(wrong).attemptsLeft, 2);
}

TEST(DemoAgent, SameContextGivesTheSameScriptAndChunksJoinToTheAnswer) {
    DemoContext context;
    context.prompt = u"  Tidy   the parser "_s;
    context.projectName = u"Demo"_s;
    context.messageID = u"m1"_s;
    const auto script = planDemoTurn(context);
    EXPECT_EQ(describe(script), describe(planDemoTurn(context)));
    QString text;
    int chunks = 0;
    for (const auto &step : script) {
        if (step.kind == DemoStep::Kind::text) {
            text += step.text;
            ++chunks;
            EXPECT_FALSE(step.text.trimmed().contains(u' ')) << step.text.toStdString(); // one word per chunk
        }
    }
    EXPECT_GT(chunks, 20);
    EXPECT_TRUE(text.contains(u"\"Tidy the parser\""_s));
    EXPECT_EQ(script.last().kind, DemoStep::Kind::result);
    context.thinkingEffort = ThinkingEffort::high;
    EXPECT_EQ(planDemoTurn(context).last().usage.reasoningTokens, 1024u);
}

TEST(DemoAgent, StandAloneTurnSkipsApprovalsItCannotAsk) {
    DemoContext context;
    context.prompt = u"deploy"_s;
    context.access = RepoAccessMode::edit;
    context.canAskApproval = false;
    for (const auto &step : planDemoTurn(context)) {
        EXPECT_NE(step.kind, DemoStep::Kind::approval);
        EXPECT_FALSE(step.kind == DemoStep::Kind::tool && step.text.startsWith(u"Bash"_s));
    }
}

// Played faster than one step per millisecond, a turn plays several steps per tick: every step still comes
// once and in order, a burst stops at an approval, and the turn finishes once.
TEST(DemoAgent, SubMillisecondPacingPlaysEveryStepOnceAndStopsAtApprovals) {
    rirudez::testing::ensureCoreApplication();
    DemoContext context;
    context.prompt = u"marathon deploy"_s;
    context.projectName = u"Demo"_s;
    context.messageID = u"m1"_s;
    context.access = RepoAccessMode::edit;
    const auto script = planDemoTurn(context);
    // The text as played when the approval is granted: the approved branch comes in place of the request.
    QString plannedText;
    for (const auto &step : script) {
        for (const auto &played : step.kind == DemoStep::Kind::approval ? step.ifApproved : QList{step}) {
            if (played.kind == DemoStep::Kind::text)
                plannedText += played.text;
        }
    }
    ASSERT_GT(plannedText.size(), 50'000);

    DemoTurn turn(script, u"m1"_s, std::chrono::microseconds(100));
    QString played;
    QStringList kinds;
    int finishes = 0;
    QObject::connect(&turn, &DemoTurn::event, [&](const RepoSessionEvent &event) {
        if (const auto *text = event.as<RepoSessionEvent::AssistantText>())
            played += text->text;
        else
            kinds.append(event.kind());
    });
    QObject::connect(&turn, &DemoTurn::finished, [&](bool failed) {
        EXPECT_FALSE(failed);
        ++finishes;
    });
    turn.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return turn.pendingApproval().has_value(); }, 20'000));
    EXPECT_EQ(kinds.last(), u"approval_requested"_s);
    const qsizetype textAtApproval = played.size();
    for (int pass = 0; pass < 20; ++pass) // a burst or a timer that ran past the approval would add text
        QCoreApplication::processEvents();
    EXPECT_EQ(played.size(), textAtApproval);
    ASSERT_TRUE(turn.answerApproval(*turn.pendingApproval(), RepoApprovalDecision::approved));
    ASSERT_TRUE(QTest::qWaitFor([&] { return finishes > 0; }, 20'000));
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(played.toStdString(), plannedText.toStdString());
    EXPECT_EQ(kinds.last(), u"result"_s);
}

TEST(TerminalQr, DrawnCodeScansBackToTheLink) {
    const QString link =
        u"doduzadod://pair?host=192.168.1.20&port=8800&token=abcDEF123_-xyz&fp="_s + QString(64, u'a');
    const QString drawing = terminalQrCode(link);
    const QStringList rows = drawing.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(rows.isEmpty());
    // Back to pixels as a terminal shows them: each character is two modules stacked, a block is lit
    // (light), a space is the dark background.
    const int scale = 4;
    const int width = int(rows[0].size()) * scale;
    const int height = int(rows.size()) * 2 * scale;
    std::vector<uint8_t> pixels(std::size_t(width * height), 0);
    for (int row = 0; row < rows.size(); ++row) {
        for (int x = 0; x < rows[row].size(); ++x) {
            const QChar c = rows[row][x];
            const bool top = c == QChar(0x2588) || c == QChar(0x2580);
            const bool bottom = c == QChar(0x2588) || c == QChar(0x2584);
            for (int dy = 0; dy < 2 * scale; ++dy)
                for (int dx = 0; dx < scale; ++dx)
                    pixels[std::size_t((row * 2 * scale + dy) * width + x * scale + dx)] =
                        (dy < scale ? top : bottom) ? 255 : 0;
        }
    }
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    const auto result = ZXing::ReadBarcode({pixels.data(), width, height, ZXing::ImageFormat::Lum}, hints);
    ASSERT_TRUE(result.isValid());
    EXPECT_EQ(QString::fromStdString(result.text()), link);
}
