#include "InProcessBridge.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <gtest/gtest.h>

namespace rirudez::testing {
using namespace Qt::StringLiterals;

void ensureCoreApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "rirudez-test";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

namespace {
// The bridge's informational lines would drown the test output; warnings still show.
// QT_LOGGING_RULES in the environment overrides this.
const bool quietBridge = [] {
    QLoggingCategory::setFilterRules(QStringLiteral("zad.bridge.*.info=false\nzad.bridge.*.debug=false"));
    return true;
}();
} // namespace

InProcessBridge::InProcessBridge(InProcessBridgeOptions options) : m_options(std::move(options)) {
    ensureCoreApplication();
    if (m_options.stateDirectory) {
        m_statePath = *m_options.stateDirectory;
    } else {
        m_tempDir = std::make_unique<QTemporaryDir>();
        if (!m_tempDir->isValid()) {
            ADD_FAILURE() << "cannot create a temporary state directory";
            return;
        }
        m_statePath = m_tempDir->filePath(u"state"_s);
    }
    startServer();
}

InProcessBridge::~InProcessBridge() {
    stop();
}

bool InProcessBridge::startServer() {
    server::BridgeServerOptions options;
    options.stateDirectory = m_statePath;
    options.host = QHostAddress::LocalHost;
    options.port = 0;
    options.name = u"Test bridge"_s;
    options.agents = m_options.agents;
    options.chunkDelay = m_options.chunkDelay;
    options.maxFrameBytes = m_options.maxFrameBytes;
    options.agentCommands = m_options.agentCommands;
    options.agentStopGrace = m_options.agentStopGrace;
    options.authTimeout = m_options.authTimeout;
    m_server = std::make_unique<server::BridgeServer>(options);
    QString error;
    if (!m_server->start(&error)) {
        ADD_FAILURE() << "the in-process bridge did not start: " << error.toStdString();
        return false;
    }
    if (m_options.demoProject) {
        if (m_server->projects().find(u"demo"_s))
            m_demoProjectID = u"demo"_s;
        else if (auto id = m_server->projects().ensureDemoProject(m_options.demoProjectGit))
            m_demoProjectID = *id;
    }
    return true;
}

bool InProcessBridge::isRunning() const {
    return m_server && m_server->isListening();
}
quint16 InProcessBridge::port() const {
    return m_server ? m_server->port() : 0;
}
QString InProcessBridge::token() const {
    return isRunning() ? m_server->state().token() : QString();
}
QString InProcessBridge::fingerprint() const {
    return isRunning() ? m_server->state().fingerprint() : QString();
}
QString InProcessBridge::stateDirectory() const {
    return m_statePath;
}
Pairing InProcessBridge::pairing() const {
    return Pairing{host(), int(port()), token(), fingerprint()};
}
QString InProcessBridge::wsUrl() const {
    return u"wss://127.0.0.1:%1/ws"_s.arg(port());
}
QString InProcessBridge::httpsBase() const {
    return u"https://127.0.0.1:%1"_s.arg(port());
}

server::BridgeCounters InProcessBridge::counters() const {
    return m_server ? m_server->counters() : server::BridgeCounters{};
}

bool InProcessBridge::restart() {
    stop();
    return startServer();
}

void InProcessBridge::stop() {
    if (m_server) {
        m_server->stop();
        m_server.reset();
    }
}

QString InProcessBridge::issuePairingCode() {
    return m_server ? m_server->pairingCodes().issue() : QString();
}

} // namespace rirudez::testing
