#pragma once

// Our bridge service running inside the test process: TLS on 127.0.0.1 with an ephemeral port and a
// temporary state directory, the demo agent answering prompts. Use it as the peer of integration tests:
//
//     rirudez::testing::InProcessBridge bridge;          // started, or the test fails at once
//     Pairing pairing = bridge.pairing();                // host, port, token, fingerprint
//     ... connect, send, wait with QTest::qWaitFor or runTask() (EventLoop.h) ...
//     EXPECT_EQ(bridge.counters().framesReceived, 0u);   // e.g. after a refused pin
//
// The bridge refuses any HTTP request or WebSocket upgrade that carries an "Origin" header (browsers),
// so clients must not set one. The state directory holds "token", "fingerprint" and
// "sessions/<id>/session.json" + "events.jsonl" exactly as the desktop reads them.

#include "BridgeServer.h"

#include "rirudez/bridgekit/Pairing.h"

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>

namespace rirudez::testing {

struct InProcessBridgeOptions {
    // Pause between two steps of the demo agent. 0 streams as fast as the event loop allows (each step
    // is still its own event-loop turn, so cancels and approvals interleave).
    std::chrono::milliseconds chunkDelay{0};
    // Registers the demo project (id "demo", a small folder; a git repository when `demoProjectGit`).
    bool demoProject = true;
    bool demoProjectGit = false;
    // Agents the bridge serves; fewer agents let tests see "agent_unavailable".
    QList<Agent> agents{Agent::claude, Agent::codex};
    // Use this state directory instead of a fresh temporary one (it is not deleted afterwards).
    std::optional<QString> stateDirectory;
    qint64 maxFrameBytes = 1 << 20;
    // Command-line programs for real agents (fakes in tests); agents without one get the demo agent.
    server::AgentCommands agentCommands;
    std::chrono::milliseconds agentStopGrace{3000};
    std::chrono::milliseconds authTimeout{5000};
};

class InProcessBridge {
public:
    // Creates the QCoreApplication when none exists, makes the state directory and starts the server.
    // On failure the current test fails (ADD_FAILURE) and isRunning() is false.
    explicit InProcessBridge(InProcessBridgeOptions options = {});
    ~InProcessBridge();
    InProcessBridge(const InProcessBridge &) = delete;
    InProcessBridge &operator=(const InProcessBridge &) = delete;

    bool isRunning() const;
    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const;
    QString token() const;
    QString fingerprint() const; // 64 lower-case hex digits, as in the "fingerprint" file
    QString stateDirectory() const;
    // "demo" when the demo project was registered, else empty.
    QString demoProjectID() const { return m_demoProjectID; }
    // Host, port, token and fingerprint together, as the desktop's pairing source reads them.
    Pairing pairing() const;
    QString wsUrl() const;     // "wss://127.0.0.1:<port>/ws"
    QString httpsBase() const; // "https://127.0.0.1:<port>"

    // What reached the server (application data only; see BridgeCounters).
    server::BridgeCounters counters() const;

    // Stops the server and starts a new one on the same state directory (sessions, token and certificate
    // survive; the port may change, counters start from zero, and server() is a new object: take it
    // again). Returns false (and fails the test) when it cannot restart.
    bool restart();
    // Stops the server; the state directory stays until destruction.
    void stop();

    // A fresh one-time pairing code for POST /pair.
    QString issuePairingCode();

    server::BridgeServer &server() { return *m_server; }

private:
    bool startServer();

    InProcessBridgeOptions m_options;
    std::unique_ptr<QTemporaryDir> m_tempDir;
    QString m_statePath;
    QString m_demoProjectID;
    std::unique_ptr<server::BridgeServer> m_server;
};

// Makes sure a QCoreApplication exists (tests that need a QGuiApplication create theirs first).
void ensureCoreApplication();

} // namespace rirudez::testing
