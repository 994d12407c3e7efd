#pragma once

// rirudez-local-server: a small local control plane over plain HTTP.
//
//   GET /health        the health document: status "ok", service, version, capabilities, provider and whether
//                      its command-line tool is signed in, the pairing code when pairing is required, and
//                      what it saw of its clients (tablet state, active clients, last client seen).
//   GET /pairing-code  {"pairing_code": …} when pairing is required; 404 otherwise.
//
// With a token set, both answer 401 unless "Authorization: Bearer <token>" matches (compared in constant
// time). Requests carrying a browser "Origin" are refused (403), other methods get 405, other paths 404;
// every error is a JSON object {"error": "<sentence>"}. Bodies are not read. It listens on 127.0.0.1:8765
// unless told otherwise; listening beyond loopback, it advertises itself by DNS-SD (LocalServerAdvertiser).

#include "LocalServerAdvertiser.h"
#include "ProviderCLIProbe.h"

#include "rirudez/localcontrolplane/CompanionProvider.h"
#include "rirudez/localcontrolplane/LocalServerHealth.h"

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QHttpServerRequest;
class QTcpSocket;

namespace rirudez::localserver {

struct LocalServerOptions {
    QHostAddress host = QHostAddress::LocalHost;
    quint16 port = 8765; // 0 picks a free port
    CompanionProvider provider = CompanionProvider::claude;
    std::optional<QString> token; // required bearer token, if any
    bool requirePairing = false;
    QString pairingCode;       // empty: six random digits when pairing is required
    QStringList cliSearchPath; // where to look for the provider's tool; empty: PATH
    QString serviceName = QStringLiteral("rirudez-local-server");
};

// One request as the server received it (for diagnostics and tests; never logged).
struct ReceivedRequest {
    QString method;
    QString path;
    std::optional<QByteArray> authorization; // the header as sent, if present
    QByteArray accept;
};

class LocalControlPlaneServer : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 defaultPort = 8765;
    static constexpr const char *version = "0.1.0";

    explicit LocalControlPlaneServer(LocalServerOptions options, QObject *parent = nullptr);
    ~LocalControlPlaneServer() override;

    // Starts listening and the first probe of the provider's tool. False with a sentence in `error` when the
    // address cannot be used.
    bool start(QString *error = nullptr);
    void stop();
    bool isListening() const;
    quint16 port() const { return m_port; }
    const LocalServerOptions &options() const { return m_options; }
    // The pairing code in force (empty when pairing is not required).
    const QString &pairingCode() const { return m_pairingCode; }
    ProviderCLIProbe &probe() { return *m_probe; }
    // The DNS-SD advertisement, when the server listens beyond loopback.
    LocalServerAdvertiser *advertiser() const { return m_advertiser.get(); }

    // The health document as it would be answered now.
    LocalServerHealth health() const;
    const QList<ReceivedRequest> &received() const { return m_received; }

private:
    class HttpServer;
    bool handle(const QHttpServerRequest &request, QTcpSocket *socket);
    void noteClient(const QHostAddress &peer);

    LocalServerOptions m_options;
    QString m_pairingCode;
    std::unique_ptr<ProviderCLIProbe> m_probe;
    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<LocalServerAdvertiser> m_advertiser; // only when listening beyond loopback
    quint16 m_port = 0;
    QHash<QString, QDateTime> m_clientsSeen; // peer address -> last request
    QList<ReceivedRequest> m_received;
};

} // namespace rirudez::localserver
