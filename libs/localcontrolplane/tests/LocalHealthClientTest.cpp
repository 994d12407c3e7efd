// The health client over real HTTP against rirudez-local-server running in-process on a free loopback port
// (the server records what it received), plus a scripted server for answers ours never gives.

#include "rirudez/localcontrolplane/LocalHealthClient.h"

#include "LocalControlPlaneServer.h"

#include "support/EventLoop.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

using localserver::LocalControlPlaneServer;
using localserver::LocalServerOptions;
using testing::runTask;

// A manager that counts the requests it was asked to create.
class CountingManager : public QNetworkAccessManager {
public:
    int created = 0;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override {
        ++created;
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

class LocalHealthClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensureCoreApplication();
        manager = std::make_shared<CountingManager>();
    }

    // Starts our server on a free loopback port; the provider's tool is looked up in an empty folder.
    LocalControlPlaneServer &startServer(std::optional<QString> token = {}) {
        LocalServerOptions options;
        options.port = 0;
        options.token = std::move(token);
        options.cliSearchPath = {emptyFolder.path()};
        server = std::make_unique<LocalControlPlaneServer>(options);
        EXPECT_TRUE(server->start());
        return *server;
    }
    QString base() const { return u"http://127.0.0.1:%1"_s.arg(server->port()); }

    LocalServerHealth fetch(const QString &baseURL, std::optional<QString> token = {}) {
        const LocalHealthClient client(manager);
        return runTask(client.fetch(baseURL, std::move(token))).value();
    }
    // The error a fetch throws, as its diagnostic text ("" when it succeeded).
    template <typename Error>
    std::optional<Error> fetchError(const QString &baseURL, std::optional<QString> token = {}) {
        try {
            fetch(baseURL, std::move(token));
        } catch (const Error &error) {
            return error;
        }
        return std::nullopt;
    }

    QTemporaryDir emptyFolder;
    std::shared_ptr<CountingManager> manager;
    std::unique_ptr<LocalControlPlaneServer> server;
};

TEST_F(LocalHealthClientTest, FetchesOurServersDocumentWithTheDocumentedRequest) {
    LocalControlPlaneServer &ours = startServer();
    const LocalServerHealth health = fetch(u"  "_s + base() + u"/\n"_s);
    EXPECT_EQ(health.status, u"ok"_s);
    EXPECT_EQ(health.service, u"rirudez-local-server"_s);
    EXPECT_EQ(health.provider, u"claude"_s);
    EXPECT_EQ(health.providerAuthenticated, false);
    EXPECT_EQ(health.tabletState, CompanionTabletState::connected);
    EXPECT_EQ(health.activeClientsCount, 1);
    EXPECT_EQ(health, ours.health());

    ASSERT_EQ(ours.received().size(), 1);
    const localserver::ReceivedRequest &request = ours.received().constFirst();
    EXPECT_EQ(request.method, u"GET"_s);
    EXPECT_EQ(request.path, u"/health"_s); // directly under the root
    EXPECT_EQ(request.accept, QByteArray("application/json"));
    EXPECT_EQ(request.authorization, std::nullopt);
    // (A base URL ending in "//" gives the URL path "//health", see the request table; Qt's HTTP transport
    // then collapses the doubled slash on the wire, so that case is checked on the request only.)
}

TEST_F(LocalHealthClientTest, SendsTheTrimmedTokenAndNothingForABlankOne) {
    LocalControlPlaneServer &ours = startServer(u"s3cret"_s);
    EXPECT_EQ(fetch(base(), u" \ts3cret \n"_s).status, u"ok"_s);
    EXPECT_EQ(ours.received().constLast().authorization, QByteArray("Bearer s3cret"));

    for (const std::optional<QString> &token :
         {std::optional<QString>(), std::optional<QString>(u"  \n"_s)}) {
        EXPECT_EQ(fetchError<LocalHealthClient::Error>(base(), token),
                  LocalHealthClient::Error::unacceptableStatus(401));
        EXPECT_EQ(ours.received().constLast().authorization, std::nullopt);
    }
    EXPECT_EQ(fetchError<LocalHealthClient::Error>(base(), u"s3cre"_s),
              LocalHealthClient::Error::unacceptableStatus(401));
}

TEST_F(LocalHealthClientTest, BlankBaseURLFailsBeforeAnyNetworkActivity) {
    for (const QString &blank : {u""_s, u"  \n\t"_s})
        EXPECT_EQ(fetchError<LocalHealthClient::Error>(blank), LocalHealthClient::Error::invalidBaseURL());
    EXPECT_EQ(fetchError<LocalHealthClient::Error>(u"http://bad host:1"_s),
              LocalHealthClient::Error::invalidBaseURL());
    EXPECT_EQ(manager->created, 0);
}

TEST_F(LocalHealthClientTest, StatusOutsideSuccessAndBadBodiesFromAScriptedServer) {
    // Answers our server never gives: a 404 that carries a valid document, and a 200 without "status".
    QHttpServer scripted;
    const QByteArray valid = LocalServerHealth{u"ok"_s, u"scripted"_s}.encode();
    scripted.route(u"/gone/health"_s, [valid] {
        return QHttpServerResponse("application/json", valid, QHttpServerResponse::StatusCode::NotFound);
    });
    scripted.route(u"/partial/health"_s,
                   [] { return QHttpServerResponse("application/json", R"({"service":"scripted"})"); });
    scripted.route(u"/fine/health"_s, [valid] { return QHttpServerResponse("application/json", valid); });
    const quint16 port = scripted.listen(QHostAddress::LocalHost, 0);
    ASSERT_NE(port, 0);
    const QString root = u"http://127.0.0.1:%1"_s.arg(port);

    EXPECT_EQ(fetch(root + u"/fine"_s).service, u"scripted"_s);
    EXPECT_EQ(fetchError<LocalHealthClient::Error>(root + u"/gone"_s),
              LocalHealthClient::Error::unacceptableStatus(404));
    const auto missing = fetchError<JsonDecodingError>(root + u"/partial"_s);
    ASSERT_TRUE(missing);
    EXPECT_EQ(*missing, JsonDecodingError(JsonDecodingError::Kind::keyNotFound, u"status"_s, {}));
}

TEST_F(LocalHealthClientTest, TransportFailuresAndNonHTTPAnswersPassThrough) {
    // A port nobody listens on: take a free one and close it again.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    const auto refused = fetchError<LocalTransportError>(u"http://127.0.0.1:%1"_s.arg(closedPort));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), QNetworkReply::ConnectionRefusedError);

    // A file answer has no HTTP status.
    QTemporaryDir folder;
    QFile file(folder.filePath(u"health"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(LocalServerHealth{u"ok"_s, u"file"_s}.encode());
    file.close();
    EXPECT_EQ(fetchError<LocalHealthClient::Error>(QUrl::fromLocalFile(folder.path()).toString()),
              LocalHealthClient::Error::nonHTTPResponse());
}

TEST(LocalHealthClientRequestTest, BuildsTheHealthURLAndHeaders) {
    const struct {
        const char16_t *base;
        const char16_t *url; // nullptr: invalidBaseURL
    } cases[] = {
        {u" http://127.0.0.1:8765/ ", u"http://127.0.0.1:8765/health"},
        {u"http://[::1]:8765", u"http://[::1]:8765/health"},
        {u"http://studio.local:8765/api//", u"http://studio.local:8765/api//health"},
        {u"https://example.org/base", u"https://example.org/base/health"},
        {u"/", u"/health"},
        {u"\n", nullptr},
        {u"http://a b", nullptr},
    };
    for (const auto &c : cases) {
        const QString base = QString::fromUtf16(c.base);
        try {
            const QNetworkRequest request = LocalHealthClient::makeRequest(base, std::nullopt);
            ASSERT_NE(c.url, nullptr) << base.toStdString();
            EXPECT_EQ(request.url().toString(), QString::fromUtf16(c.url));
            EXPECT_EQ(request.rawHeader("Accept"), QByteArray("application/json"));
            EXPECT_FALSE(request.hasRawHeader("Authorization"));
            EXPECT_EQ(request.transferTimeout(), 60'000);
        } catch (const LocalHealthClient::Error &error) {
            EXPECT_EQ(c.url, nullptr) << base.toStdString() << " threw " << error.what();
            EXPECT_EQ(error, LocalHealthClient::Error::invalidBaseURL());
        }
    }
    EXPECT_EQ(LocalHealthClient::makeRequest(u"http://h"_s, u" a b "_s).rawHeader("Authorization"),
              QByteArray("Bearer a b"));
}

} // namespace
} // namespace rirudez
