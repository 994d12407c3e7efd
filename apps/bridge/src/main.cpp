// zad-ezarur-bridge: runs the bridge service in the foreground until interrupted.
#include "BridgeAdvertiser.h"
#include "BridgeServer.h"
#include "TerminalQr.h"

#include "rirudez/bridgekit/Pairing.h"
#include "rirudez/serviceprocess/ServiceProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>
#include <memory>

using namespace rirudez;
using namespace rirudez::server;
using namespace rirudez::serviceprocess;
using namespace Qt::StringLiterals;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"zad-ezarur-bridge"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(RIRUDEZ_VERSION));
    // Qt's own HTTP server warns about every refused upgrade; our log says what happened.
    QLoggingCategory::setFilterRules(u"qt.httpserver.warning=false"_s);
    qSetMessagePattern(u"%{time yyyy-MM-dd hh:mm:ss.zzz} %{type} %{category}: %{message}"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"The Zad Ezarur bridge: serves repo sessions of the coding agents "
                                     u"claude and codex over one TLS port "
                                     "(HTTPS /health and /pair, WebSocket /ws). Without real agents "
                                     "configured, the deterministic demo agent "
                                     "answers (see apps/bridge/README.md)."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption stateDir(u"state-dir"_s, u"State directory (default: ~/.derezov-bridge)."_s,
                                      u"DIR"_s);
    const QCommandLineOption host(u"host"_s, u"Address to listen on (default: 127.0.0.1)."_s, u"HOST"_s,
                                  u"127.0.0.1"_s);
    const QCommandLineOption port(
        u"port"_s, u"TCP port (default: 8800; 0 picks a free port and prints it)."_s, u"PORT"_s, u"8800"_s);
    const QCommandLineOption project(u"project"_s, u"Register a project folder (repeatable; remembered)."_s,
                                     u"NAME=PATH"_s);
    const QCommandLineOption demo(u"demo"_s,
                                  u"Answer with the deterministic demo agent instead of the claude and "
                                  u"codex programs, and register a small demo git project when no "
                                  u"project is registered."_s);
    const QCommandLineOption claudeCommand(
        u"claude-command"_s, u"The claude program to run (default: claude found on PATH)."_s, u"PATH"_s);
    const QCommandLineOption codexCommand(
        u"codex-command"_s, u"The codex program to run (default: codex found on PATH)."_s, u"PATH"_s);
    const QCommandLineOption pairingCode(u"pairing-code"_s,
                                         u"Print a fresh one-time numeric pairing code."_s);
    const QCommandLineOption pairLink(u"show-pair-link"_s, u"Print the pair link and its QR code."_s);
    const QCommandLineOption chunkDelay(
        u"chunk-delay-ms"_s,
        u"Pause of the demo agent between two streamed steps, fractions allowed (default: 40)."_s, u"MS"_s,
        u"40"_s);
    const QCommandLineOption agents(u"agents"_s,
                                    u"Agents to serve, comma separated (default: claude,codex)."_s, u"LIST"_s,
                                    u"claude,codex"_s);
    const QCommandLineOption bridgeName(u"name"_s,
                                        u"The bridge's name, shown to clients and announced on the network "
                                        u"(default: \"Zad Ezarur on <host name>\")."_s,
                                        u"NAME"_s);
    const QCommandLineOption noAdvertise(
        u"no-advertise"_s,
        u"Do not announce the bridge on the local network (DNS-SD _doduzadod._tcp). A bridge "
        u"listening on loopback only is never announced."_s);
    parser.addOptions({stateDir, host, port, bridgeName, project, demo, claudeCommand, codexCommand,
                       pairingCode, pairLink, chunkDelay, agents, noAdvertise});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    BridgeServerOptions options;
    options.stateDirectory = parser.isSet(stateDir) ? parser.value(stateDir) : StateDirectory::defaultPath();
    if (!options.host.setAddress(parser.value(host))) {
        err << "--host: not an IP address: " << parser.value(host) << Qt::endl;
        return 2;
    }
    bool ok = false;
    const uint portValue = parser.value(port).toUInt(&ok);
    if (!ok || portValue > 65535) {
        err << "--port: expected 0 to 65535" << Qt::endl;
        return 2;
    }
    options.port = quint16(portValue);
    if (parser.isSet(bridgeName)) {
        options.name = parser.value(bridgeName).trimmed();
        if (options.name.isEmpty() || options.name.toUtf8().size() > 63) {
            err << "--name: expected 1 to 63 bytes of text" << Qt::endl;
            return 2;
        }
    }
    // Fractions stream faster than one step per millisecond: 0.5 plays 2,000 steps per second.
    const double delay = parser.value(chunkDelay).toDouble(&ok);
    if (!ok || !(delay >= 0) || delay > 3'600'000) {
        err << "--chunk-delay-ms: expected a number of milliseconds (fractions allowed)" << Qt::endl;
        return 2;
    }
    options.chunkDelay = std::chrono::microseconds(qRound64(delay * 1000.0));
    options.agents.clear();
    for (const QString &name : parser.value(agents).split(u',', Qt::SkipEmptyParts)) {
        const auto agent = fromRaw<Agent>(name.trimmed());
        if (!agent) {
            err << "--agents: unknown agent " << name << Qt::endl;
            return 2;
        }
        options.agents.append(*agent);
    }
    // Real agents: a command given on the command line, else (without --demo) the one found on PATH. An
    // agent with neither is answered by the demo agent with --demo, and not served at all without it.
    QList<Agent> served;
    for (const Agent agent : std::as_const(options.agents)) {
        const QCommandLineOption &given = agent == Agent::claude ? claudeCommand : codexCommand;
        std::optional<QString> command;
        if (parser.isSet(given)) {
            const QFileInfo info(parser.value(given));
            if (!info.isFile() || !info.isExecutable()) {
                err << "--" << given.names().first() << ": not an executable file: " << parser.value(given)
                    << Qt::endl;
                return 2;
            }
            command = info.absoluteFilePath();
        } else if (!parser.isSet(demo)) {
            command = findAgentCommand(rawValue(agent));
        }
        if (agent == Agent::claude)
            options.agentCommands.claude = command;
        else
            options.agentCommands.codex = command;
        if (command || parser.isSet(demo))
            served.append(agent);
        else
            err << "zad-ezarur-bridge: " << rawValue(agent) << " is not on PATH; it is not served (give --"
                << given.names().first() << " PATH, or use --demo for the demo agent)" << Qt::endl;
    }
    options.agents = served;

    BridgeServer server(options);
    QString error;
    if (!server.start(&error)) {
        err << "zad-ezarur-bridge: " << error << Qt::endl;
        return 1;
    }
    for (const QString &entry : parser.values(project)) {
        const qsizetype split = entry.indexOf(u'=');
        if (split <= 0) {
            err << "--project: expected NAME=PATH, got " << entry << Qt::endl;
            return 2;
        }
        auto added =
            server.projects().addFolder(entry.left(split), QDir(entry.mid(split + 1)).absolutePath());
        if (!added) {
            err << "--project " << entry << ": " << added.error() << Qt::endl;
            return 2;
        }
    }
    if (parser.isSet(demo))
        server.projects().ensureDemoProject(true);

    out << "zad-ezarur-bridge listening on " << options.host.toString() << ":" << server.port() << Qt::endl;
    out << "port " << server.port() << Qt::endl;
    out << "state directory " << server.state().path() << Qt::endl;
    out << "fingerprint " << server.state().fingerprint() << Qt::endl;
    for (const Agent agent : std::as_const(options.agents)) {
        const auto command = options.agentCommands.command(agent);
        out << "agent " << rawValue(agent) << " " << (command ? *command : u"(demo agent)"_s) << Qt::endl;
    }
    if (parser.isSet(pairingCode)) {
        const auto lifetime =
            std::chrono::duration_cast<std::chrono::minutes>(server.pairingCodes().config().lifetime).count();
        out << "pairing code " << server.pairingCodes().issue() << " (single use, valid " << lifetime
            << " minutes)" << Qt::endl;
    }
    if (parser.isSet(pairLink)) {
        const Pairing pairing{reachableHost(options.host), int(server.port()), server.state().token(),
                              server.state().fingerprint()};
        const QString link = pairing.url(Pairing::canonicalScheme.toString());
        out << "pair link " << link << Qt::endl << terminalQrCode(link) << Qt::flush;
    }

    // Announced on the network while it runs; withdrawn (before the port closes) on the way out.
    std::unique_ptr<BridgeAdvertiser> advertiser;
    if (!parser.isSet(noAdvertise) && BridgeAdvertiser::shouldAdvertise(options.host))
        advertiser = std::make_unique<BridgeAdvertiser>(BridgeAdvertiser::Service{
            server.name(), server.port(), server.state().fingerprint(), options.host});

    quitOnSignals(app); // so running turns are recorded as cancelled on the way out
    const int status = app.exec();
    advertiser.reset();
    server.stop();
    return status;
}
