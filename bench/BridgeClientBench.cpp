// Bridge client throughput and latency on loopback TLS against our own bridge, running in this process.
//
//  - ListRepoSessionsRoundTrip/Client: one `list_repo_sessions` through BridgeClient (encode, send, bridge,
//    receive, decode, correlate, resume the waiting coroutine), p50 and p99 in microseconds.
//  - ListRepoSessionsRoundTrip/RawWebSocket: the same request as pre-encoded text on a bare pinned
//  QWebSocket,
//    answered when the next text message arrives (no decoding, no correlation): the transport's own limit.
//  - TurnStream/Client: frames per second received through the client (decoded and routed to the turn's
//    progress callback) while the bridge streams a long stand-alone turn with no delay between steps.
//  - TurnStream/RawWebSocket: the same turn on a bare QWebSocket, counting text messages until the result.
//
// The bridge shares the event loop with the client, so both sides' costs are in every figure; the ratio of
// Client to RawWebSocket is what the client adds.

#include "BridgeServer.h"

#include "rirudez/bridgekit/BridgeClient.h"
#include "rirudez/bridgekit/CertPinning.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUuid>
#include <QWebSocket>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

struct Bench {
    QTemporaryDir stateDir;
    std::unique_ptr<server::BridgeServer> bridge;
    QString demoProject;

    Bench() {
        server::BridgeServerOptions options;
        options.stateDirectory = stateDir.filePath(u"state"_s);
        options.port = 0;
        options.chunkDelay = std::chrono::milliseconds(0);
        bridge = std::make_unique<server::BridgeServer>(options);
        QString error;
        if (!bridge->start(&error)) {
            qFatal("bridge did not start: %s", qPrintable(error));
        }
        demoProject = bridge->projects().ensureDemoProject(false).value_or(QString());
    }

    Pairing pairing() const {
        return Pairing{u"127.0.0.1"_s, bridge->port(), bridge->state().token(),
                       bridge->state().fingerprint()};
    }
};

// Made in main() after the application object and destroyed before it.
std::unique_ptr<Bench> g_bench;

Bench &bench() {
    return *g_bench;
}

// Runs the event loop until `done` holds (bounded, so a broken run ends instead of hanging).
template <typename Condition>
bool spin(Condition done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

template <typename T>
struct Slot {
    bool done = false;
    bool failed = false;
};

template <typename T>
QCoro::Task<void> drive(QCoro::Task<T> task, std::shared_ptr<Slot<T>> slot) {
    try {
        co_await std::move(task);
    } catch (...) {
        slot->failed = true;
    }
    slot->done = true;
}

template <typename T>
bool runToEnd(QCoro::Task<T> task) {
    auto slot = std::make_shared<Slot<T>>();
    drive(std::move(task), slot);
    return spin([&] { return slot->done; }) && !slot->failed;
}

void reportPercentiles(benchmark::State &state, std::vector<double> &micros) {
    if (micros.empty()) {
        return;
    }
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, size_t(q * double(micros.size())))];
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
}

// A bare pinned WebSocket that has authenticated and seen the hello.
std::unique_ptr<QWebSocket> rawSocket(int *messages) {
    const Pairing pairing = bench().pairing();
    auto session = CertPinning::pinnedSession(*pairing.fp);
    std::unique_ptr<QWebSocket> socket(session->makeWebSocket());
    QObject::connect(socket.get(), &QWebSocket::textMessageReceived, socket.get(),
                     [messages](const QString &) { ++*messages; });
    bool connected = false;
    QObject::connect(socket.get(), &QWebSocket::connected, socket.get(), [&] { connected = true; });
    socket->open(*pairing.wsURL());
    if (!spin([&] { return connected; })) {
        return nullptr;
    }
    const int before = *messages;
    socket->sendTextMessage(QString::fromUtf8(ClientMessage{ClientMessage::Auth{pairing.token}}.encode()));
    if (!spin([&] { return *messages > before; })) {
        return nullptr;
    }
    return socket;
}

void ListRepoSessionsRoundTrip_Client(benchmark::State &state) {
    BridgeClient client;
    if (!runToEnd(client.connect(bench().pairing()))) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!runToEnd(client.listRepoSessions())) {
            state.SkipWithError("list failed");
            return;
        }
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    reportPercentiles(state, micros);
    client.disconnect();
}
BENCHMARK(ListRepoSessionsRoundTrip_Client)->Name("ListRepoSessionsRoundTrip/Client")->Iterations(3000);

void ListRepoSessionsRoundTrip_RawWebSocket(benchmark::State &state) {
    int messages = 0;
    const auto socket = rawSocket(&messages);
    if (!socket) {
        state.SkipWithError("raw connect failed");
        return;
    }
    const QString request = QString::fromUtf8(
        ClientMessage{ClientMessage::ListRepoSessions{u"repo-sessions-raw"_s, std::nullopt}}.encode());
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int before = messages;
        socket->sendTextMessage(request);
        if (!spin([&] { return messages > before; })) {
            state.SkipWithError("no answer");
            return;
        }
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    reportPercentiles(state, micros);
    socket->close();
}
BENCHMARK(ListRepoSessionsRoundTrip_RawWebSocket)
    ->Name("ListRepoSessionsRoundTrip/RawWebSocket")
    ->Iterations(3000);

TurnRequest longTurn() {
    TurnRequest request;
    request.turnID = u"bench-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    request.project = bench().demoProject;
    request.prompt = u"Write a long and detailed essay about the code"_s;
    return request;
}

void TurnStream_Client(benchmark::State &state) {
    BridgeClient client;
    if (!runToEnd(client.connect(bench().pairing()))) {
        state.SkipWithError("connect failed");
        return;
    }
    std::int64_t frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        // The result frame ends the turn; count it with the progress frames.
        if (!runToEnd(client.runTurn(longTurn(), [&](const BridgeMessage &) { ++frames; }))) {
            state.SkipWithError("turn failed");
            return;
        }
        ++frames;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["frames"] = double(frames);
    state.counters["frames_per_s"] = double(frames) / seconds;
    client.disconnect();
}
BENCHMARK(TurnStream_Client)->Name("TurnStream/Client")->Iterations(20)->Unit(benchmark::kMillisecond);

void TurnStream_RawWebSocket(benchmark::State &state) {
    int messages = 0;
    const auto socket = rawSocket(&messages);
    if (!socket) {
        state.SkipWithError("raw connect failed");
        return;
    }
    // The turn ends with a result and then a "done" status: wait for the status line that says so.
    bool finished = false;
    QObject::connect(socket.get(), &QWebSocket::textMessageReceived, socket.get(), [&](const QString &text) {
        if (text.contains(u"\"state\":\"done\""_s)) {
            finished = true;
        }
    });
    std::int64_t frames = 0;
    double seconds = 0;
    for (auto _ : state) {
        finished = false;
        const int before = messages;
        const auto start = std::chrono::steady_clock::now();
        socket->sendTextMessage(QString::fromUtf8(ClientMessage{ClientMessage::Turn{longTurn()}}.encode()));
        if (!spin([&] { return finished; })) {
            state.SkipWithError("turn did not finish");
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        frames += messages - before;
    }
    state.counters["frames"] = double(frames);
    state.counters["frames_per_s"] = double(frames) / seconds;
    socket->close();
}
BENCHMARK(TurnStream_RawWebSocket)
    ->Name("TurnStream/RawWebSocket")
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    g_bench = std::make_unique<Bench>();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_bench.reset();
    return 0;
}
