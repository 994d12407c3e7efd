// Our bridge killed in the middle of a turn and started again, many times in a row, with the desktop's view
// model connected. After every restart the view model's own polls reconnect and subscribe again; the bridge
// ends the interrupted turn when it starts, so the desktop's sending state ends. At the end the thread must
// show every event of the bridge's log exactly once: the counts of lost and doubled events are reported and
// must be 0.

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingEventTranslator.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingTaskFailure.h"

#include "EventLoop.h"
#include "FollowingBridgeSource.h"
#include "SessionStore.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;

namespace {

constexpr int deadlineMs = 20000;
constexpr std::chrono::milliseconds deadline(deadlineMs);
constexpr std::uint64_t pollIntervalNanoseconds = 50'000'000;

int restartCount() {
    bool ok = false;
    const int configured = qEnvironmentVariableIntValue("RIRUDEZ_SOAK_RESTARTS", &ok);
    return ok && configured > 0 ? configured : 100;
}

// The bridge executable on a free port of 127.0.0.1 and a state directory of the test's.
class BridgeProcess {
public:
    explicit BridgeProcess(QString stateDirectory) : m_stateDirectory(std::move(stateDirectory)) {}
    ~BridgeProcess() { kill(); }

    bool start() {
        m_port = 0;
        m_output.clear();
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        // The bridge's log, kept beside the state directory for a failure to be looked into.
        m_process->setStandardErrorFile(m_stateDirectory + u".log"_s, QIODevice::Append);
        m_process->start(QString::fromUtf8(ZAD_BRIDGE_EXECUTABLE),
                         {u"--state-dir"_s, m_stateDirectory, u"--host"_s, u"127.0.0.1"_s, u"--port"_s,
                          u"0"_s, u"--demo"_s, u"--chunk-delay-ms"_s, u"4"_s});
        return QTest::qWaitFor(
                   [&] {
                       m_output += m_process->readAllStandardOutput();
                       for (const QByteArray &line : m_output.split('\n'))
                           if (line.startsWith("port "))
                               m_port = line.mid(5).trimmed().toInt();
                       return m_port > 0 || m_process->state() == QProcess::NotRunning;
                   },
                   deadlineMs) &&
               m_port > 0;
    }
    // SIGKILL: nothing of the bridge's own shutdown runs.
    void kill() {
        if (!m_process || m_process->state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process->processId()), SIGKILL);
        m_process->waitForFinished(deadlineMs);
    }
    int port() const { return m_port; }
    const QString &stateDirectory() const { return m_stateDirectory; }

private:
    QString m_stateDirectory;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_output;
    int m_port = 0;
};

// The rows the bridge's log of one session stands for, by id: what a desktop that saw every frame exactly
// once shows (user messages aside: the desktop shows its own row for a prompt it sent).
std::map<QString, DesktopCodingEvent> rowsOfLog(const QString &stateDirectory, const QString &sessionID) {
    std::map<QString, DesktopCodingEvent> rows;
    QFile log(stateDirectory + u"/sessions/"_s + sessionID + u"/events.jsonl"_s);
    if (!log.open(QIODevice::ReadOnly))
        return rows;
    RepoSessionProjection projection;
    for (const QByteArray &line : log.readAll().split('\n')) {
        const std::optional<server::StoredEvent> stored = server::SessionStore::decodeLine(line);
        if (!stored || !projection.ingest(stored->event, sessionID, stored->sequence))
            continue;
        const DesktopCodingEventTranslation t = DesktopCodingEventTranslator::translate(
            stored->event, sessionID, stored->sequence, u"t"_s, projection);
        if (t.row && t.row->kind != DesktopCodingEventKind::userMessage)
            rows[t.row->id] = *t.row;
        if (t.assistantText)
            rows[t.assistantText->id] = DesktopCodingEvent(
                t.assistantText->id, DesktopCodingEventKind::assistantText, t.assistantText->text);
    }
    return rows;
}

TEST(CodingBridgeRestartSoak, KillsMidTurnLoseAndDoubleNothing) {
    ensureCoreApplication();
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString statePath = temp.filePath(u"state"_s);
    BridgeProcess bridge(statePath);
    ASSERT_TRUE(bridge.start());

    auto source =
        std::make_shared<FollowingBridgeSource>(bridge.stateDirectory(), [&bridge] { return bridge.port(); });
    auto client = std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>());
    DesktopCodingHarnessViewModel viewModel(
        DesktopCodingHarnessViewModel::sampleProjects(),
        DesktopCodingHarnessViewModel::fallbackModelCatalog(), source, source,
        std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(statePath), client);
    ASSERT_TRUE(runTask(viewModel.refreshBridgeHealth(), deadline));
    ASSERT_EQ(viewModel.bridgeRefreshError().value_or(QString()), QString());
    viewModel.selectProject(viewModel.projects().first().id);
    viewModel.startThread();
    const QString threadID = viewModel.selectedThread()->id;
    const auto thread = [&]() -> const DesktopCodingThread & {
        return viewModel.threads()[*viewModel.threadStore().indexOf(threadID)];
    };
    const auto count = [&](DesktopCodingEventKind kind, const QString &summary = {}) {
        return std::count_if(thread().session.events.begin(), thread().session.events.end(),
                             [&](const DesktopCodingEvent &e) {
                                 return e.kind == kind && (summary.isEmpty() || e.summary == summary);
                             });
    };

    // The view model's own discovery loop, polling often so the test runs quickly.
    QCoro::Task<void> polling = viewModel.runBridgeSessionDiscoveryLoop(pollIntervalNanoseconds);

    const int restarts = restartCount();
    QElapsedTimer clock;
    clock.start();
    for (int cycle = 0; cycle < restarts; ++cycle) {
        viewModel.setPromptText(u"soak turn "_s + QString::number(cycle));
        ASSERT_TRUE(runTask(viewModel.sendPrompt(), deadline)) << cycle;
        // Mid-turn: the answer has started streaming.
        const auto textRows = count(DesktopCodingEventKind::assistantText);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return count(DesktopCodingEventKind::assistantText) > textRows || !viewModel.isSending(); },
            deadlineMs))
            << cycle;
        bridge.kill();
        ASSERT_TRUE(bridge.start()) << cycle << ": " << qPrintable(bridge.stateDirectory());
        // The polls reconnect and catch up; the bridge's record of the turn's end arrives and ends the
        // sending state.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !viewModel.isSending() && viewModel.bridgeRegistry().isConnected(); }, deadlineMs))
            << cycle;
    }
    viewModel.stopBridgeSessionDiscoveryLoop();
    ASSERT_TRUE(runTask(std::move(polling), deadline));
    // Catch up once more, then compare with the log.
    ASSERT_TRUE(runTask(viewModel.refreshBridgeSessions(), deadline));
    const QString sessionID = thread().bridgeSessionID.value_or(QString());
    ASSERT_FALSE(sessionID.isEmpty());
    std::map<QString, DesktopCodingEvent> expected;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            expected = rowsOfLog(statePath, sessionID);
            qsizetype shown = 0;
            for (const DesktopCodingEvent &event : thread().session.events)
                shown += expected.count(event.id);
            return shown == qsizetype(expected.size());
        },
        deadlineMs));

    int lost = 0;
    int doubled = 0;
    std::map<QString, int> seen;
    for (const DesktopCodingEvent &event : thread().session.events)
        if (event.id.startsWith(sessionID + u"-"_s))
            ++seen[event.id];
    for (const auto &[id, row] : expected) {
        const auto shown = std::find_if(thread().session.events.begin(), thread().session.events.end(),
                                        [&](const DesktopCodingEvent &e) { return e.id == id; });
        if (shown == thread().session.events.end() || shown->summary != row.summary) {
            ++lost;
            ADD_FAILURE() << "lost " << qPrintable(id) << " " << qPrintable(row.summary.left(60))
                          << " shown as "
                          << (shown == thread().session.events.end() ? "nothing"
                                                                     : qPrintable(shown->summary.left(60)));
        }
    }
    for (const auto &[id, copies] : seen) {
        const int extra = copies - 1 + (expected.count(id) ? 0 : 1);
        if (extra > 0)
            ADD_FAILURE() << "doubled " << qPrintable(id) << " (" << copies
                          << " copies, in the log: " << expected.count(id) << ")";
        doubled += extra;
    }
    // Every prompt shows once, however often the bridge replayed its echo.
    const int prompts = int(count(DesktopCodingEventKind::userMessage));
    if (prompts != restarts)
        ADD_FAILURE() << prompts << " prompts shown for " << restarts << " sent";
    doubled += prompts - restarts;

    const int interrupted = int(count(DesktopCodingEventKind::status, u"Bridge turn cancelled"_s));
    std::printf("restarts %d (interrupted mid-turn %d) in %.1f s: %zu bridge events, lost %d, doubled %d\n",
                restarts, interrupted, clock.elapsed() / 1000.0, expected.size(), lost, doubled);
    ::testing::Test::RecordProperty("lost", lost);
    ::testing::Test::RecordProperty("doubled", doubled);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(doubled, 0);
    // The kills really came mid-turn (the bridge's record of an interrupted turn is in the log and on the
    // screen, by the counts above).
    EXPECT_GT(interrupted, restarts / 2);
    EXPECT_EQ(count(DesktopCodingEventKind::failed), 0);
}

} // namespace
