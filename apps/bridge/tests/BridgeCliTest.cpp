// The zad-ezarur-bridge executable from the build tree: starts on a free port with a fresh state
// directory, prints what a user needs, answers /health with the token it wrote, stops cleanly on
// SIGTERM, and refuses bad options.
#include "InProcessBridge.h"
#include "TestHttps.h"

#include "rirudez/bridgekit/Pairing.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;

namespace {

QString executable() {
    return QStringLiteral(ZAD_BRIDGE_EXECUTABLE);
}

// Runs the event loop until `done` holds or the deadline passes; `done` is checked on every output.
bool waitFor(QProcess &process, const std::function<bool()> &done, int deadlineMs = 20000) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto check = [&] {
        if (done())
            loop.quit();
    };
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, check);
    QObject::connect(&process, &QProcess::finished, &loop, check);
    timer.start(deadlineMs);
    loop.exec();
    return done();
}

} // namespace

TEST(BridgeCli, DemoOnAFreePortAnswersAndStopsCleanly) {
    ensureCoreApplication();
    ASSERT_FALSE(executable().isEmpty());
    QTemporaryDir temp;
    const QString state = temp.filePath(u"state"_s);
    QProcess bridge;
    bridge.setProcessChannelMode(QProcess::SeparateChannels);
    bridge.start(executable(), {u"--demo"_s, u"--port"_s, u"0"_s, u"--state-dir"_s, state,
                                u"--chunk-delay-ms"_s, u"0"_s, u"--pairing-code"_s, u"--show-pair-link"_s});
    QByteArray out;
    ASSERT_TRUE(waitFor(bridge,
                        [&] {
                            out += bridge.readAllStandardOutput();
                            return out.contains("pair link ") && out.count('\n') > 8;
                        }))
        << out.constData() << bridge.readAllStandardError().constData();

    int port = 0;
    QString link;
    for (const QByteArray &line : out.split('\n')) {
        if (line.startsWith("port "))
            port = line.mid(5).toInt();
        if (line.startsWith("pair link "))
            link = QString::fromUtf8(line.mid(10));
    }
    ASSERT_GT(port, 0);
    EXPECT_NE(port, 8800);
    EXPECT_TRUE(out.contains("pairing code "));

    const auto readState = [&](const QString &name) {
        QFile file(state + u'/' + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
    };
    const QString token = readState(u"token"_s), fingerprint = readState(u"fingerprint"_s);
    ASSERT_FALSE(token.isEmpty() || fingerprint.isEmpty());
    const auto pairing = Pairing::parse(link);
    ASSERT_TRUE(pairing) << link.toStdString();
    EXPECT_EQ(pairing->port, port);
    EXPECT_EQ(pairing->token, token);
    EXPECT_EQ(pairing->fp, fingerprint);

    const auto health = httpsRequest("GET", u"https://127.0.0.1:%1/health"_s.arg(port), fingerprint,
                                     {{"Authorization", "Bearer " + token.toUtf8()}});
    ASSERT_EQ(health.status, 200) << health.error.toStdString();
    // --demo sets up a git work tree for its project.
    auto decoded = decodeBridgeHealth(health.body);
    ASSERT_TRUE(decoded && decoded->projects.size() == 1 && decoded->projects[0].gitStatus);
    EXPECT_EQ(decoded->projects[0].gitStatus->branch, u"main"_s);

    ::kill(pid_t(bridge.processId()), SIGTERM);
    ASSERT_TRUE(waitFor(bridge, [&] { return bridge.state() == QProcess::NotRunning; }));
    EXPECT_EQ(bridge.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(bridge.exitCode(), 0);
    const QByteArray log = bridge.readAllStandardError();
    EXPECT_TRUE(log.contains("stopped listening")) << log.constData();
    EXPECT_FALSE(log.contains(token.toUtf8()));
}

TEST(BridgeCli, ServesOnlyTheAgentProgramsFoundOnPath) {
    ensureCoreApplication();
    QTemporaryDir temp;
    QDir(temp.path()).mkpath(u"bin"_s);
    QFile claude(temp.filePath(u"bin/claude"_s));
    ASSERT_TRUE(claude.open(QIODevice::WriteOnly));
    claude.write("#!/bin/sh\nexit 0\n");
    claude.close();
    claude.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess bridge;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"PATH"_s, temp.filePath(u"bin"_s));
    bridge.setProcessEnvironment(environment);
    bridge.start(executable(), {u"--port"_s, u"0"_s, u"--state-dir"_s, temp.filePath(u"state"_s)});
    QByteArray out;
    ASSERT_TRUE(waitFor(bridge, [&] {
        out += bridge.readAllStandardOutput();
        return out.contains("agent claude ");
    })) << out.constData();
    EXPECT_TRUE(out.contains("agent claude " + temp.filePath(u"bin/claude"_s).toUtf8() + "\n"))
        << out.constData();
    EXPECT_FALSE(out.contains("agent codex"));
    ::kill(pid_t(bridge.processId()), SIGTERM);
    ASSERT_TRUE(waitFor(bridge, [&] { return bridge.state() == QProcess::NotRunning; }));
    EXPECT_TRUE(bridge.readAllStandardError().contains("codex is not on PATH"));
}

struct BadOption {
    const char *name;
    QStringList arguments;
};

class BridgeCliRefuses : public ::testing::TestWithParam<BadOption> {};

TEST_P(BridgeCliRefuses, WithExitCodeTwo) {
    ensureCoreApplication();
    QTemporaryDir temp;
    QProcess bridge;
    bridge.start(executable(), QStringList{u"--state-dir"_s, temp.filePath(u"state"_s), u"--port"_s, u"0"_s} +
                                   GetParam().arguments);
    ASSERT_TRUE(waitFor(bridge, [&] { return bridge.state() == QProcess::NotRunning; }));
    EXPECT_EQ(bridge.exitCode(), 2) << bridge.readAllStandardError().constData();
}

INSTANTIATE_TEST_SUITE_P(
    Options, BridgeCliRefuses,
    ::testing::Values(BadOption{"Port", {u"--port"_s, u"70000"_s}},
                      BadOption{"Host", {u"--host"_s, u"not-an-ip"_s}},
                      BadOption{"Agent", {u"--agents"_s, u"claude,gemini"_s}},
                      BadOption{"ProjectWithoutPath", {u"--project"_s, u"nameonly"_s}},
                      BadOption{"ProjectMissingFolder", {u"--project"_s, u"x=/nonexistent/folder"_s}},
                      BadOption{"Delay", {u"--chunk-delay-ms"_s, u"-5"_s}},
                      BadOption{"AgentCommandMissing", {u"--claude-command"_s, u"/nonexistent/claude"_s}}),
    [](const auto &param) { return std::string(param.param.name); });
