#pragma once

// What the screen benchmark stands on: clocks and resident memory, the application window over a root view
// with a recorder of swapped frames, a prepared bridge state directory (a long session and a short newer
// one), our bridge as its own process, and the screen connected to it. Only DesktopScreenBench.cpp includes
// it.

#include "BenchMeasures.h"
#include "BridgeServer.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingListModels.h"
#include "FramePacer.h"
#include "RootView.h"
#include "SymbolImageProvider.h"
#include "TurnImageProvider.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace rirudez::screenbench {
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using namespace rirudez::benchmeasures;

// Processor time the calling thread has used, in milliseconds: what the UI thread spent on a step, which a
// busy machine stretches less than the time on the clock.
inline double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Seconds since the kernel started this process (its start time has a resolution of one clock tick, 10 ms).
inline double secondsSinceProcessStart() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    } // field 22: start time in clock ticks after boot
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - std::stod(field) / double(sysconf(_SC_CLK_TCK));
}

// Every frame the window swaps, stamped on the thread that renders it, with the UI thread's processor time
// and the time it spent ready to run while other threads had the processors (the kernel's schedstat of that
// thread: both in nanoseconds, 0 where the kernel keeps no such figures).
class FrameRecorder {
public:
    struct Interval {
        double ms = 0;
        double uiCpuMs = 0;
        double uiWaitMs = 0; // ready to run, waiting for a processor
    };

    explicit FrameRecorder(QQuickWindow *window)
        : m_uiSchedstat("/proc/self/task/" + std::to_string(gettid()) + "/schedstat") {
        QObject::connect(
            window, &QQuickWindow::frameSwapped, window,
            [this] {
                Swap swap{Clock::now(), 0, 0};
                std::ifstream schedstat(m_uiSchedstat);
                schedstat >> swap.uiCpuNs >> swap.uiWaitNs;
                const std::lock_guard lock(m_mutex);
                m_swaps.push_back(swap);
            },
            Qt::DirectConnection);
    }
    std::size_t count() const {
        const std::lock_guard lock(m_mutex);
        return m_swaps.size();
    }
    // The first swap at or after `time`.
    std::optional<Clock::time_point> firstSwapAfter(Clock::time_point time) const {
        const std::lock_guard lock(m_mutex);
        const auto found =
            std::lower_bound(m_swaps.begin(), m_swaps.end(), time,
                             [](const Swap &swap, Clock::time_point t) { return swap.at < t; });
        return found == m_swaps.end() ? std::nullopt : std::optional(found->at);
    }
    // The intervals between consecutive swaps inside [from, to].
    std::vector<Interval> intervalDetails(Clock::time_point from, Clock::time_point to) const {
        const std::lock_guard lock(m_mutex);
        std::vector<Interval> result;
        for (std::size_t i = 1; i < m_swaps.size(); ++i) {
            const Swap &before = m_swaps[i - 1];
            const Swap &after = m_swaps[i];
            if (before.at >= from && after.at <= to)
                result.push_back(Interval{millisecondsBetween(before.at, after.at),
                                          double(after.uiCpuNs - before.uiCpuNs) / 1e6,
                                          double(after.uiWaitNs - before.uiWaitNs) / 1e6});
        }
        return result;
    }
    // Intervals between consecutive swaps inside [from, to], in milliseconds.
    std::vector<double> intervals(Clock::time_point from, Clock::time_point to) const {
        std::vector<double> result;
        for (const Interval &interval : intervalDetails(from, to))
            result.push_back(interval.ms);
        return result;
    }

private:
    struct Swap {
        Clock::time_point at;
        long long uiCpuNs = 0;
        long long uiWaitNs = 0;
    };
    const std::string m_uiSchedstat;
    mutable std::mutex m_mutex;
    std::vector<Swap> m_swaps;
};

// The application window over a root view, built as main() builds it.
struct Screen {
    std::unique_ptr<QQmlApplicationEngine> engine = std::make_unique<QQmlApplicationEngine>();
    QQuickWindow *window = nullptr;
    std::unique_ptr<FramePacer> pacer;
    std::unique_ptr<FrameRecorder> frames;

    explicit Screen(RootView &rootView) {
        engine->addImportPath(u"qrc:/qt/qml"_s);
        engine->addImageProvider(u"symbol"_s, new SymbolImageProvider);
        engine->addImageProvider(u"turnimage"_s, new TurnImageProvider(rootView.codingViewModel()));
        engine->setInitialProperties(
            {{u"rootView"_s, QVariant::fromValue(static_cast<QObject *>(&rootView))}});
        engine->load(QUrl(u"qrc:/qt/qml/Rirudez/Desktop/Main.qml"_s));
        if (engine->rootObjects().isEmpty())
            qFatal("Main.qml did not load");
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().constFirst());
        pacer = FramePacer::paceIfSoftware(window);
        frames = std::make_unique<FrameRecorder>(window);
    }
    ~Screen() {
        pacer.reset();
        window->close();
        engine.reset();
        for (int round = 0; round < 3; ++round) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
    }
    QQuickItem *find(const QString &objectName) const {
        QList<QQuickItem *> pending{window->contentItem()};
        while (!pending.isEmpty()) {
            QQuickItem *item = pending.takeFirst();
            if (item->objectName() == objectName && item->isVisible())
                return item;
            pending.append(item->childItems());
        }
        return nullptr;
    }
};

inline std::unique_ptr<DesktopCodingHarnessViewModel> makeViewModel(const QString &stateDirectory, int port) {
    auto health =
        std::make_shared<LocalDesktopCodingBridgeHealthSource>(stateDirectory, u"127.0.0.1"_s, port);
    auto recency = std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(stateDirectory);
    auto client = std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>());
    return std::make_unique<DesktopCodingHarnessViewModel>(
        DesktopCodingHarnessViewModel::sampleProjects(),
        DesktopCodingHarnessViewModel::fallbackModelCatalog(), health, health, recency, client);
}

// The words of one streamed answer, and the word that ends the last answer of a prepared log.
inline constexpr int wordsPerTurn = 18;
inline constexpr int eventsPerTurn = wordsPerTurn + 7;
inline const QString endMarker = u"end-of-prepared-log"_s;

// A bridge state directory with the demo project and a session of `events` events (whole turns), plus a newer
// small session that the screen selects at start.
struct PreparedState {
    QTemporaryDir dir;
    QString state = dir.filePath(u"state"_s);
    QString largeSessionID;
    int turns = 0;

    explicit PreparedState(int events) {
        server::BridgeServerOptions options;
        options.stateDirectory = state;
        options.port = 0;
        server::BridgeServer bridge(options);
        QString error;
        if (!bridge.start(&error))
            qFatal("bridge did not start: %s", qPrintable(error));
        const QString project = bridge.projects().ensureDemoProject(false).value_or(QString());
        const auto create = [&] {
            RepoSessionSummary summary;
            summary.projectID = project;
            summary.agent = Agent::codex;
            summary.access = RepoAccessMode::edit;
            auto created = bridge.sessions().create(summary);
            if (!created)
                qFatal("session not created: %s", qPrintable(created.error()));
            return created->sessionID;
        };
        // The long log is written in one go, line by line as the store writes them (appending through the
        // store opens the file for every event); the bridge process reads it at start.
        QByteArray lines;
        std::uint64_t sequence = 0;
        const auto append = [&](const QString &session, RepoSessionEvent::Value value) {
            if (session == largeSessionID) {
                lines +=
                    server::SessionStore::encodeLine(++sequence, RepoSessionEvent{std::move(value)}) + '\n';
            } else if (!bridge.sessions().append(session, RepoSessionEvent{std::move(value)})) {
                qFatal("append failed");
            }
        };

        largeSessionID = create();
        sequence = bridge.sessions().lastSequence(largeSessionID);
        turns = std::max(1, events / eventsPerTurn);
        for (int turn = 0; turn < turns; ++turn) {
            append(largeSessionID,
                   RepoSessionEvent::UserMessage{
                       u"m%1"_s.arg(turn), u"Step %1: tidy the parser module"_s.arg(turn), {}});
            append(largeSessionID, RepoSessionEvent::Status{TurnState::received});
            append(largeSessionID, RepoSessionEvent::Status{TurnState::working});
            append(largeSessionID, RepoSessionEvent::ToolUse{u"Read src/parser_%1.cpp"_s.arg(turn % 97)});
            append(largeSessionID, RepoSessionEvent::ToolUse{u"Grep \"token\""_s});
            for (int word = 0; word < wordsPerTurn; ++word) {
                const bool last = turn == turns - 1 && word == wordsPerTurn - 1;
                append(largeSessionID, RepoSessionEvent::AssistantText{
                                           last ? endMarker : u"word%1 "_s.arg((turn * 7 + word) % 500)});
            }
            append(largeSessionID, RepoSessionEvent::Result{u"Done."_s, std::nullopt});
            append(largeSessionID, RepoSessionEvent::Status{TurnState::done});
        }
        QFile largeLog(state + u"/sessions/"_s + largeSessionID + u"/events.jsonl"_s);
        if (!largeLog.open(QIODevice::WriteOnly | QIODevice::Append) || largeLog.write(lines) != lines.size())
            qFatal("cannot write the long log");
        largeLog.close();
        const QString smallSessionID = create();
        append(smallSessionID, RepoSessionEvent::UserMessage{u"s1"_s, u"hello"_s, {}});
        append(smallSessionID, RepoSessionEvent::AssistantText{u"Hello."_s});

        // The small session is the more recent one, so the start-up refresh selects it and not the long one.
        const auto age = [&](const QString &session, int seconds) {
            QFile log(state + u"/sessions/"_s + session + u"/events.jsonl"_s);
            if (log.open(QIODevice::ReadWrite))
                log.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                                QFileDevice::FileModificationTime);
        };
        age(largeSessionID, 3600);
        age(smallSessionID, 60);
    }
};

// zad-ezarur-bridge as its own process on a prepared state directory and a free port.
struct BridgeProcess {
    QProcess process;
    int port = 0;

    BridgeProcess(const QString &stateDirectory, const QStringList &extraArguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_LOGGING_RULES"_s, u"zad.bridge.*.info=false"_s);
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(RIRUDEZ_BRIDGE_EXECUTABLE),
                      QStringList{u"--state-dir"_s, stateDirectory, u"--port"_s, u"0"_s, u"--demo"_s} +
                          extraArguments);
        static const QRegularExpression portLine(u"^port (\\d+)$"_s, QRegularExpression::MultilineOption);
        QByteArray output;
        const bool started = waitUntil(
            [&] {
                output += process.readAllStandardOutput();
                const auto match = portLine.match(QString::fromUtf8(output));
                if (match.hasMatch())
                    port = match.captured(1).toInt();
                return port > 0 || process.state() == QProcess::NotRunning;
            },
            30s);
        if (!started || port == 0)
            qFatal("the bridge did not start: %s", output.constData());
    }
    ~BridgeProcess() {
        process.terminate();
        if (!process.waitForFinished(10'000))
            process.kill();
    }
};

// A connected screen: bridge process, root view and window, waiting until the start-up refresh has mirrored
// the bridge's sessions.
struct ConnectedScreen {
    BridgeProcess bridge;
    std::unique_ptr<RootView> rootView;
    std::unique_ptr<Screen> screen;
    DesktopCodingHarnessViewModel *vm = nullptr;

    ConnectedScreen(const QString &stateDirectory, const QStringList &bridgeArguments, int expectedThreads)
        : bridge(stateDirectory, bridgeArguments) {
        const int port = bridge.port;
        rootView = std::make_unique<RootView>(
            [stateDirectory, port] { return makeViewModel(stateDirectory, port); });
        screen = std::make_unique<Screen>(*rootView);
        vm = rootView->codingViewModel();
        const auto mirrored = [&] {
            return std::count_if(vm->threads().cbegin(), vm->threads().cend(),
                                 [](const DesktopCodingThread &t) {
                                     return t.bridgeSessionID.has_value();
                                 }) >= expectedThreads;
        };
        if (!waitUntil([&] { return mirrored() && vm->selectedThread() != nullptr; }, 60s))
            qFatal("the bridge's sessions were not mirrored: %s",
                   qPrintable(vm->bridgeRefreshError().value_or(u"no error"_s)));
        // The measurements drive the selection themselves; a later poll would bring sessions forward.
        vm->stopBridgeSessionDiscoveryLoop();
        settle();
    }
    ~ConnectedScreen() {
        screen.reset();
        rootView.reset();
        QCoreApplication::processEvents();
    }
    void settle() {
        const std::size_t before = screen->frames->count();
        screen->window->requestUpdate();
        waitUntil([&] { return screen->frames->count() > before; }, 5s);
        waitUntil([] { return false; }, 200ms);
    }
    QString threadFor(const QString &sessionID) const {
        for (const DesktopCodingThread &thread : vm->threads())
            if (thread.bridgeSessionID == sessionID)
                return thread.id;
        qFatal("no thread mirrors session %s", qPrintable(sessionID));
    }
    // Selects a thread as a click on its row does.
    void open(const QString &threadID) {
        vm->selectThread(threadID);
        vm->requestSubscribeToSelectedBridgeSession();
    }
};

} // namespace rirudez::screenbench
