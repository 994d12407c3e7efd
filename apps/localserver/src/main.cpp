// rirudez-local-server: serves the local control plane's health document until interrupted.
#include "LocalControlPlaneServer.h"

#include "rirudez/localcontrolplane/RirudezLocalPairingLink.h"
#include "rirudez/serviceprocess/ServiceProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

using namespace rirudez;
using namespace rirudez::localserver;
using namespace rirudez::serviceprocess;
using namespace Qt::StringLiterals;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"rirudez-local-server"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(RIRUDEZ_VERSION));
    qSetMessagePattern(u"%{time yyyy-MM-dd hh:mm:ss.zzz} %{type} %{category}: %{message}"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"A local control plane server: answers GET /health with the companion's health document."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption host(u"host"_s, u"Address to listen on (default: 127.0.0.1)."_s, u"HOST"_s,
                                  u"127.0.0.1"_s);
    const QCommandLineOption port(u"port"_s, u"TCP port (default: 8765; 0 picks a free one)."_s, u"PORT"_s,
                                  u"8765"_s);
    const QCommandLineOption provider(u"provider"_s,
                                      u"AI provider: claude or openai_codex (default: claude)."_s,
                                      u"PROVIDER"_s, u"claude"_s);
    const QCommandLineOption token(u"token"_s, u"Bearer token that clients must send."_s, u"TOKEN"_s);
    const QCommandLineOption requirePairing(
        u"require-pairing"_s, u"Require pairing: the health document carries a pairing code."_s);
    parser.addOptions({host, port, provider, token, requirePairing});
    parser.process(app);

    QTextStream err(stderr);
    LocalServerOptions options;
    if (!options.host.setAddress(parser.value(host))) {
        err << "rirudez-local-server: --host must be an IP address, not \"" << parser.value(host) << "\"\n";
        return 2;
    }
    bool portOk = false;
    const uint portValue = parser.value(port).toUInt(&portOk);
    if (!portOk || portValue > 65535) {
        err << "rirudez-local-server: --port must be a number from 0 to 65535\n";
        return 2;
    }
    options.port = quint16(portValue);
    const auto chosen = companionProviderFromRaw(parser.value(provider));
    if (!chosen) {
        err << "rirudez-local-server: --provider must be claude or openai_codex\n";
        return 2;
    }
    options.provider = *chosen;
    if (parser.isSet(token)) {
        const QString value = parser.value(token).trimmed();
        if (value.isEmpty()) {
            err << "rirudez-local-server: --token must not be blank\n";
            return 2;
        }
        options.token = value;
    }
    options.requirePairing = parser.isSet(requirePairing);

    LocalControlPlaneServer server(options);
    QString error;
    if (!server.start(&error)) {
        err << "rirudez-local-server: " << error << "\n";
        return 1;
    }
    const QString reachable = reachableHost(options.host);
    QTextStream out(stdout);
    out << "rirudez-local-server " << LocalControlPlaneServer::version << " on http://"
        << (reachable.contains(u':') ? u'[' + reachable + u']' : reachable) << ':' << server.port()
        << " (provider " << rawValue(options.provider) << ")\n";
    if (options.requirePairing) {
        const RirudezLocalPairingLink link(reachable, server.port(), server.pairingCode());
        out << "pairing code " << server.pairingCode() << "\n"
            << "pairing link " << link.url().toString(QUrl::FullyEncoded) << "\n";
    }
    out.flush();
    quitOnSignals(app);
    return app.exec();
}
