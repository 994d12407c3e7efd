// rirudez-local-server over real HTTP on a free loopback port: how each kind of request is answered, the
// provider's tool as found on a search path of fake tools, pairing, and garbage on the socket.

#include "LocalControlPlaneServer.h"

#include "rirudez/localcontrolplane/LocalServerHealth.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez::localserver {
namespace {

constexpr int deadlineMs = 10'000;

struct Answer {
    int status = 0;
    QByteArray body;
};

// One request through Qt's HTTP client; waits with a deadline.
Answer request(QNetworkAccessManager &manager, const QByteArray &verb, const QUrl &url,
               const QList<std::pair<QByteArray, QByteArray>> &headers = {}) {
    QNetworkRequest r(url);
    for (const auto &[name, value] : headers)
        r.setRawHeader(name, value);
    std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(r, verb));
    EXPECT_TRUE(QTest::qWaitFor([&] { return reply->isFinished(); }, deadlineMs));
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

// Writes an executable shell script called `name` into `folder`.
void writeTool(const QString &folder, const QString &name, const QByteArray &script) {
    QFile file(folder + u'/' + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + script);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "localserver-test";
            static char *argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }
    // A server on a free port for the provider, token and pairing of `given`; the provider's tool is looked
    // up in `given.cliSearchPath`, or in the test's tool folder.
    LocalControlPlaneServer &start(const LocalServerOptions &given) {
        server.reset();
        auto options = std::make_unique<LocalServerOptions>(given);
        options->port = 0;
        if (options->cliSearchPath.isEmpty())
            options->cliSearchPath = QStringList{tools.path()};
        server = std::make_unique<LocalControlPlaneServer>(*options);
        EXPECT_TRUE(server->start());
        EXPECT_TRUE(QTest::qWaitFor([&] { return server->probe().hasRun(); }, deadlineMs));
        return *server;
    }
    QUrl url(const QString &path) const {
        return QUrl(u"http://127.0.0.1:%1%2"_s.arg(server->port()).arg(path));
    }

    QTemporaryDir tools;
    QNetworkAccessManager manager;
    std::unique_ptr<LocalControlPlaneServer> server;
};

TEST_F(ServerTest, AnswersEachKindOfRequest) {
    auto options = std::make_unique<LocalServerOptions>();
    options->token = u"s3cret"_s;
    start(*options);
    const QByteArray good = "Bearer s3cret";
    const struct {
        const char *name;
        QByteArray verb;
        QString path;
        QList<std::pair<QByteArray, QByteArray>> headers;
        int status;
    } cases[] = {
        {"token", "GET", u"/health"_s, {{"Authorization", good}}, 200},
        {"scheme in any case, padded token",
         "GET",
         u"/health?x=1"_s,
         {{"Authorization", "bEaReR  s3cret "}},
         200},
        {"no token", "GET", u"/health"_s, {}, 401},
        {"wrong token", "GET", u"/health"_s, {{"Authorization", "Bearer s3cres"}}, 401},
        {"token prefix", "GET", u"/health"_s, {{"Authorization", "Bearer s3cretX"}}, 401},
        {"not bearer", "GET", u"/health"_s, {{"Authorization", "Basic czNjcmV0"}}, 401},
        {"browser origin",
         "GET",
         u"/health"_s,
         {{"Authorization", good}, {"Origin", "http://evil.example"}},
         403},
        {"other method", "POST", u"/health"_s, {{"Authorization", good}}, 405},
        {"unknown path", "GET", u"/health/x"_s, {{"Authorization", good}}, 404},
        {"pairing not required", "GET", u"/pairing-code"_s, {{"Authorization", good}}, 404},
    };
    for (const auto &c : cases) {
        const Answer answer = request(manager, c.verb, url(c.path), c.headers);
        EXPECT_EQ(answer.status, c.status) << c.name;
        if (c.status == 200)
            EXPECT_TRUE(LocalServerHealth::decode(answer.body)) << c.name;
        else
            EXPECT_TRUE(answer.body.contains("\"error\"")) << c.name << ": " << answer.body.toStdString();
    }
}

TEST_F(ServerTest, PairingCodeIsInTheDocumentAndItsOwnEndpoint) {
    auto options = std::make_unique<LocalServerOptions>();
    options->requirePairing = true;
    LocalControlPlaneServer &ours = start(*options);
    EXPECT_EQ(ours.pairingCode().size(), 6);
    const auto health = LocalServerHealth::decode(request(manager, "GET", url(u"/health"_s)).body);
    ASSERT_TRUE(health);
    EXPECT_EQ(health->requiresPairing, true);
    EXPECT_EQ(health->pairingCode, ours.pairingCode());
    EXPECT_TRUE(health->capabilities->contains(u"pairing_code"_s));
    const auto code = PairingCodeResponse::decode(request(manager, "GET", url(u"/pairing-code"_s)).body);
    ASSERT_TRUE(code);
    EXPECT_EQ(code->pairingCode, ours.pairingCode());
}

TEST_F(ServerTest, ReportsTheProvidersToolAsFoundOnTheSearchPath) {
    writeTool(
        tools.path(), u"claude"_s,
        R"(test "$1 $2" = "auth status" || exit 3; echo '{"loggedIn": true, "email": "ada@example.org"}')");
    writeTool(tools.path(), u"codex"_s,
              R"(test "$1 $2" = "login status" || exit 3; echo "Not logged in"; exit 1)");
    QTemporaryDir signedIn;
    writeTool(signedIn.path(), u"codex"_s, "echo 'Logged in using ChatGPT'\n");
    QTemporaryDir empty;
    const struct {
        CompanionProvider provider;
        QString folder;
        ProviderCLIStatus expected;
    } cases[] = {
        {CompanionProvider::claude, tools.path(), {true, true, u"ada@example.org"_s, std::nullopt}},
        {CompanionProvider::openAICodex, tools.path(), {true, false, std::nullopt, u"Not logged in"_s}},
        {CompanionProvider::openAICodex,
         signedIn.path(),
         {true, true, u"Logged in using ChatGPT"_s, u"Logged in using ChatGPT"_s}},
        {CompanionProvider::claude,
         empty.path(),
         {false, false, std::nullopt, u"claude was not found on the PATH"_s}},
    };
    for (const auto &c : cases) {
        auto options = std::make_unique<LocalServerOptions>();
        options->provider = c.provider;
        options->cliSearchPath = {c.folder};
        LocalControlPlaneServer &ours = start(*options);
        EXPECT_EQ(ours.probe().status(), c.expected) << c.folder.toStdString();
        const auto health = LocalServerHealth::decode(request(manager, "GET", url(u"/health"_s)).body);
        ASSERT_TRUE(health);
        EXPECT_EQ(health->provider, rawValue(c.provider));
        EXPECT_EQ(health->providerAuthenticated, c.expected.isAuthenticated);
        EXPECT_EQ(health->providerAccountLabel, c.expected.accountLabel);
    }
}

TEST_F(ServerTest, SurvivesGarbageAndKeepsAnswering) {
    start(*std::make_unique<LocalServerOptions>());
    const QList<QByteArray> garbage{
        QByteArray::fromHex("00ff1337") + " not http\r\n\r\n",
        "GET /health HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n",
        "GET " + QByteArray(70'000, 'a') + " HTTP/1.1\r\n\r\n",
        "GET /health HTTP/1.1\r\n" + QByteArray("X: y\r\n").repeated(5000) + "\r\n",
        "GET /health HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
    };
    for (const QByteArray &bytes : garbage) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server->port());
        ASSERT_TRUE(socket.waitForConnected(deadlineMs));
        socket.write(bytes);
        socket.flush();
        // Whatever it answers, it answers or hangs up, and it is still there for the next client.
        [[maybe_unused]] const bool reacted = QTest::qWaitFor(
            [&] { return socket.bytesAvailable() > 0 || socket.state() != QAbstractSocket::ConnectedState; },
            2000);
        if (socket.bytesAvailable() > 0) {
            EXPECT_FALSE(socket.readAll().startsWith("HTTP/1.1 101")) << bytes.left(40).toStdString();
        }
        EXPECT_EQ(request(manager, "GET", url(u"/health"_s)).status, 200) << bytes.left(40).toStdString();
    }
}

} // namespace
} // namespace rirudez::localserver
