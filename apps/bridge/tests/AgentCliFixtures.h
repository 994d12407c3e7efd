#pragma once
// What the end-to-end tests of the claude and codex agents share: fake programs that replay transcripts
// and record how they ran, and a pinned TLS client with one subscribed session.
#include "InProcessBridge.h"
#include "RepoEvents.h"
#include "TestWebSocket.h"
#include "agents/CliAgentTurn.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace rirudez::testing::agentcli {
using namespace Qt::StringLiterals;
using E = RepoSessionEvent;

inline constexpr auto deadline = std::chrono::seconds(10);

using testing::eventsOf;
using testing::isTerminal;
using testing::joinedText;

inline QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether a process is gone (a zombie nobody reaped counts as gone).
inline bool processGone(qint64 pid) {
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return true;
    const QByteArray stat = readAll(u"/proc/%1/stat"_s.arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return close > 0 && stat.mid(close + 2, 1) == "Z";
}

// The fake programs: DIR/bin/claude and DIR/bin/codex run the fake with their own record folder.
class FakeAgents {
public:
    FakeAgents() {
        QDir(m_dir.path()).mkpath(u"bin"_s);
        for (const Agent agent : allAgents) {
            const QString name = rawValue(agent);
            QDir(m_dir.path()).mkpath(name);
            QFile wrapper(command(agent));
            wrapper.open(QIODevice::WriteOnly);
            wrapper.write(
                u"#!/bin/sh\nexec '%1' '%2' \"$@\"\n"_s.arg(QStringLiteral(ZAD_FAKE_AGENT), folder(agent))
                    .toUtf8());
            wrapper.close();
            wrapper.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
    QString command(Agent agent) const { return m_dir.filePath(u"bin/"_s + rawValue(agent)); }
    server::AgentCommands commands() const { return {command(Agent::claude), command(Agent::codex)}; }

    // The script of run `run` (0: every run without its own).
    void script(Agent agent, const QString &text, int run = 0) const {
        QFile file(QDir(folder(agent)).filePath(run ? u"script-%1.txt"_s.arg(run) : u"script.txt"_s));
        file.open(QIODevice::WriteOnly);
        file.write(text.toUtf8());
    }
    void transcript(Agent agent, const QString &name, int run = 0) const {
        script(agent, QString::fromUtf8(readAll(QStringLiteral(ZAD_AGENT_TRANSCRIPTS "/") + name)), run);
    }
    QByteArray recorded(Agent agent, int run, const QString &name) const {
        return readAll(QDir(folder(agent)).filePath(u"run-%1/%2"_s.arg(run).arg(name)));
    }
    QStringList argv(Agent agent, int run) const {
        QStringList args = QString::fromUtf8(recorded(agent, run, u"argv"_s)).split(u'\n');
        args.removeLast();
        return args;
    }
    qint64 pid(Agent agent, int run, const QString &file = u"pid"_s) const {
        return recorded(agent, run, file).toLongLong();
    }
    bool waitForPid(Agent agent, int run, const QString &file = u"pid"_s) const {
        return QTest::qWaitFor([&] { return pid(agent, run, file) > 0; }, 5000);
    }

private:
    QString folder(Agent agent) const { return m_dir.filePath(rawValue(agent)); }
    QTemporaryDir m_dir;
};

inline InProcessBridgeOptions withAgents(const FakeAgents &fakes) {
    InProcessBridgeOptions options;
    options.agentCommands = fakes.commands();
    options.agentStopGrace = std::chrono::milliseconds(300);
    return options;
}

// One client with one subscribed session.
class Session {
public:
    Session(InProcessBridge &bridge, Agent agent, RepoAccessMode access = RepoAccessMode::edit,
            std::optional<AgentPermissionMode> permission = AgentPermissionMode::acceptEdits)
        : m_socket(bridge.fingerprint()) {
        if (!m_socket.openAndAuthenticate(bridge.wsUrl(), bridge.token()))
            return;
        ClientMessage::OpenRepoSession open;
        open.requestID = u"open-1"_s;
        open.projectID = bridge.demoProjectID();
        open.agent = agent;
        open.access = access;
        open.permissionMode = permission;
        open.model = agent == Agent::claude ? u"opus"_s : u"gpt-5.4"_s;
        open.thinkingEffort = ThinkingEffort::high;
        m_socket.send(ClientMessage{open});
        auto opened = m_socket.waitFor<BridgeMessage::RepoSessionOpened>();
        if (!opened)
            return;
        m_id = opened->session.sessionID;
        m_socket.send(ClientMessage{ClientMessage::SubscribeRepoSession{m_id}});
        m_socket.collectRepoEvents(m_id, [](const E &e) { return e.is<E::SessionOpened>(); });
    }
    const QString &id() const { return m_id; }
    TestWebSocket &socket() { return m_socket; }

    void send(const QString &prompt, const QList<TurnImage> &images = {}) {
        m_socket.send(ClientMessage{ClientMessage::RepoMessage{m_id, u"msg-%1"_s.arg(++m_messages), prompt,
                                                               images, std::nullopt, std::nullopt}});
    }
    std::optional<QList<BridgeMessage::RepoEvent>> until(const std::function<bool(const E &)> &last) {
        return m_socket.collectRepoEvents(m_id, last, deadline);
    }
    std::optional<QList<BridgeMessage::RepoEvent>> turn(const QString &prompt,
                                                        const QList<TurnImage> &images = {}) {
        send(prompt, images);
        return until(isTerminal);
    }
    void answer(const QString &approvalID, RepoApprovalDecision decision) {
        m_socket.send(ClientMessage{ClientMessage::RepoApprovalResponse{m_id, approvalID, decision}});
    }
    void cancel() { m_socket.send(ClientMessage{ClientMessage::CancelRepoMessage{m_id}}); }

private:
    TestWebSocket m_socket;
    QString m_id;
    int m_messages = 0;
};

} // namespace rirudez::testing::agentcli
