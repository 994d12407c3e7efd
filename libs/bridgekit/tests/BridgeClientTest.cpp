// The bridge client against our own bridge over real TLS, and against a scripted peer for the answers our
// bridge never gives on purpose (another protocol, a wrong first frame, closing in the middle of a request).

#include "NetTestSupport.h"
#include "support/InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QTcpServer>
#include <QUuid>

#include <gtest/gtest.h>

#include <algorithm>

using namespace rirudez;
using namespace rirudez::nettest;
using rirudez::testing::ensureCoreApplication;
using rirudez::testing::InProcessBridge;
using namespace Qt::StringLiterals;

namespace {

ClientMessage openFrame(const QString &requestID, const QString &projectID) {
    return ClientMessage{ClientMessage::OpenRepoSession{.requestID = requestID, .projectID = projectID}};
}
TurnRequest turnRequest(const QString &project, const QString &prompt) {
    return {.turnID = u"turn-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces),
            .project = project,
            .prompt = prompt};
}
const auto summary = [](const QString &sessionID, const QString &projectID) {
    return RepoSessionSummary{.sessionID = sessionID, .projectID = projectID};
};
const auto hello = [](int protocol) {
    return BridgeMessage{BridgeMessage::Hello{.name = u"Scripted"_s, .protocolVersion = protocol}};
};

template <typename T>
void expectClientError(const TaskOutcome<T> &outcome, const BridgeClientError &expected) {
    const auto error = outcome.template errorAs<BridgeClientError>();
    ASSERT_TRUE(error.has_value()) << "expected " << expected.diagnosticText().toStdString() << ", "
                                   << outcome.describe();
    EXPECT_EQ(*error, expected) << error->diagnosticText().toStdString();
}

// ---------------------------------------------------------------------------------------------------------------
// Against our bridge

class BridgeClientTest : public ::testing::Test {
protected:
    InProcessBridge bridge;
    BridgeClient client;

    Pairing pairing() const {
        return Pairing{bridge.host(), bridge.port(), bridge.token(), bridge.fingerprint()};
    }

    void connectClient() {
        const auto connected = runTask(client.connect(pairing()));
        ASSERT_TRUE(connected.value.has_value()) << connected.describe();
    }
};

TEST_F(BridgeClientTest, SendBeforeConnectThrowsNotConnected) {
    expectClientError(runTask(client.send(ClientMessage{ClientMessage::Ping{}})),
                      BridgeClientError::notConnected());
    expectClientError(runTask(client.listRepoSessions()), BridgeClientError::notConnected());
    EXPECT_EQ(client.pendingRequestCount(), 0);
}

TEST_F(BridgeClientTest, WithoutFingerprintNeitherConnectNorHealthProbeOpensAnything) {
    Pairing unpinned = pairing();
    unpinned.fp.reset();
    expectClientError(runTask(client.connect(unpinned)), BridgeClientError::fingerprintMissing());
    expectClientError(runTask(probeBridgeHealth(unpinned)), BridgeClientError::fingerprintMissing());
    drainEvents();
    EXPECT_FALSE(client.hasSocket());
    EXPECT_EQ(bridge.counters().tlsHandshakesStarted, 0u);
}

TEST_F(BridgeClientTest, ConnectWithUnusableHostIsBadURL) {
    Pairing broken = pairing();
    broken.host = u"no such/host"_s;
    expectClientError(runTask(client.connect(broken)), BridgeClientError::badURL());
    EXPECT_FALSE(client.hasSocket());
}

TEST(BridgeClientWithoutPeer, NothingListeningIsATransportError) {
    ensureCoreApplication();
    // A port that was free a moment ago: nothing answers there.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const Pairing nowhere{u"127.0.0.1"_s, probe.serverPort(), u"token"_s, QString(64, u'a')};
    probe.close();

    BridgeClient client;
    const auto connected = runTask(client.connect(nowhere));
    const auto error = connected.errorAs<TransportError>();
    ASSERT_TRUE(error.has_value()) << connected.describe();
    EXPECT_EQ(error->kind(), TransportError::Kind::connectionFailed) << error->diagnosticText().toStdString();
    EXPECT_FALSE(client.isReceiving());

    const auto probed = runTask(probeBridgeHealth(nowhere));
    EXPECT_TRUE(probed.errorAs<TransportError>().has_value()) << probed.describe();
}

TEST_F(BridgeClientTest, WrongTokenIsUnauthorizedAndDisconnects) {
    Pairing wrong = pairing();
    wrong.token = u"not-the-token"_s;
    expectClientError(runTask(client.connect(wrong)), BridgeClientError::unauthorized());
    expectClientError(runTask(probeBridgeHealth(wrong)), BridgeClientError::unauthorized());
    EXPECT_FALSE(client.hasSocket());
    EXPECT_EQ(bridge.counters().authenticatedSockets, 0u);
}

TEST_F(BridgeClientTest, ConnectsThenOpensAndListsRepoSessions) {
    const auto connected = runTask(client.connect(pairing()));
    ASSERT_TRUE(connected.value.has_value()) << connected.describe();
    const auto *helloFrame = connected.value->as<BridgeMessage::Hello>();
    ASSERT_NE(helloFrame, nullptr);
    EXPECT_EQ(helloFrame->projects.value(0).id, bridge.demoProjectID());
    EXPECT_TRUE(client.isReceiving());
    EXPECT_EQ(bridge.counters().authenticatedSockets, 1u);

    const auto opened = runTask(client.openRepoSession(openFrame(u"open-1"_s, bridge.demoProjectID())));
    ASSERT_TRUE(opened.value.has_value()) << opened.describe();
    EXPECT_EQ(opened.value->projectID, bridge.demoProjectID());

    const auto listed = runTask(client.listRepoSessions());
    ASSERT_TRUE(listed.value.has_value()) << listed.describe();
    EXPECT_TRUE(listed.value->contains(*opened.value));
    EXPECT_EQ(client.pendingRequestCount(), 0);
}

TEST_F(BridgeClientTest, OpenRepoSessionRefusesAnotherFrameAndSendsNothing) {
    connectClient();
    const auto before = bridge.counters().framesReceived;
    expectClientError(runTask(client.openRepoSession(ClientMessage{ClientMessage::Ping{}})),
                      BridgeClientError::handshakeFailed(u"expected open_repo_session"_s));
    drainEvents();
    EXPECT_EQ(bridge.counters().framesReceived, before);
}

TEST_F(BridgeClientTest, RepoErrorFailsOnlyItsOwnRequest) {
    connectClient();
    auto failing = startTask(client.openRepoSession(openFrame(u"open-unknown"_s, u"no-such-project"_s)));
    auto listing = startTask(client.listRepoSessions());
    ASSERT_TRUE(waitUntil([&] { return failing->done && listing->done; }));
    const auto error = failing->errorAs<BridgeClientError>();
    ASSERT_TRUE(error.has_value()) << failing->describe();
    EXPECT_TRUE(error->is<BridgeClientError::TurnFailed>()) << error->diagnosticText().toStdString();
    EXPECT_TRUE(listing->value.has_value()) << listing->describe();
    EXPECT_TRUE(client.isReceiving());
}

TEST_F(BridgeClientTest, RegistersProject) {
    connectClient();
    const auto registered = runTask(client.registerProject(
        u"Second project"_s, u"second"_s, RepoAccessMode::ask, RepoAccessMode::edit, false, false));
    ASSERT_TRUE(registered.value.has_value()) << registered.describe();
    EXPECT_EQ(registered.value->id, u"second"_s);
    EXPECT_EQ(registered.value->name, u"Second project"_s);

    // A refused registration fails with the bridge's message.
    const auto refused = runTask(client.registerProject(u"Odd"_s, std::nullopt, RepoAccessMode::edit,
                                                        RepoAccessMode::watch, false, false));
    const auto error = refused.errorAs<BridgeClientError>();
    ASSERT_TRUE(error.has_value()) << refused.describe();
    EXPECT_TRUE(error->is<BridgeClientError::TurnFailed>());
}

TEST_F(BridgeClientTest, RoutesRepoEventsOfASubscribedSessionToOnMessage) {
    connectClient();
    QList<BridgeMessage> seen;
    client.onMessage = [&](const BridgeMessage &message) { seen.append(message); };
    const auto opened = runTask(client.openRepoSession(openFrame(u"open-events"_s, bridge.demoProjectID())));
    ASSERT_TRUE(opened.value.has_value()) << opened.describe();
    const QString sessionID = opened.value->sessionID;
    // The answer that resumed the waiter reached the observer too.
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(),
                            [](const BridgeMessage &m) { return m.is<BridgeMessage::RepoSessionOpened>(); }));

    ASSERT_FALSE(runTask(client.send(ClientMessage{ClientMessage::SubscribeRepoSession{sessionID}})).error);
    ClientMessage::RepoMessage message;
    message.sessionID = sessionID;
    message.messageID = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    message.prompt = u"Say hello"_s;
    ASSERT_FALSE(runTask(client.send(ClientMessage{message})).error);

    auto isDone = [&](const BridgeMessage &m) {
        const auto *event = m.as<BridgeMessage::RepoEvent>();
        const auto *status = event ? event->event.as<RepoSessionEvent::Status>() : nullptr;
        return event && event->sessionID == sessionID && status && status->state == TurnState::done;
    };
    ASSERT_TRUE(waitUntil([&] { return std::any_of(seen.begin(), seen.end(), isDone); }));
    // Frames arrive in order: sequence numbers of the session never go down.
    std::uint64_t last = 0;
    for (const BridgeMessage &m : seen) {
        if (const auto *event = m.as<BridgeMessage::RepoEvent>(); event && event->sessionID == sessionID) {
            EXPECT_GE(event->sequence, last);
            last = event->sequence;
        }
    }
}

TEST_F(BridgeClientTest, RunsAStandAloneTurnWithProgress) {
    connectClient();
    QList<BridgeMessage> progress;
    const TurnRequest request = turnRequest(bridge.demoProjectID(), u"Write a haiku"_s);
    const auto finished =
        runTask(client.runTurn(request, [&](const BridgeMessage &message) { progress.append(message); }));
    ASSERT_TRUE(finished.value.has_value()) << finished.describe();
    EXPECT_EQ(finished.value->turnID, request.turnID);
    EXPECT_FALSE(client.hasActiveTurn());
    // Progress is this turn's frames only (routing is checked in detail against the scripted peer).
    EXPECT_TRUE(std::any_of(progress.begin(), progress.end(), [&](const BridgeMessage &m) {
        const auto *status = m.as<BridgeMessage::Status>();
        return status && status->turnID == request.turnID && status->state == TurnState::working;
    }));
}

class SlowTurnTest : public BridgeClientTest {
protected:
    SlowTurnTest() { bridge.server().setChunkDelay(std::chrono::milliseconds(50)); }
};

TEST_F(SlowTurnTest, SecondTurnIsRefusedAndCancelEndsTheFirst) {
    connectClient();
    bool working = false;
    auto first = startTask(client.runTurn(turnRequest(bridge.demoProjectID(), u"A long answer"_s),
                                          [&](const BridgeMessage &) { working = true; }));
    ASSERT_TRUE(waitUntil([&] { return working; }));
    const auto framesBefore = bridge.counters().framesReceived;

    expectClientError(runTask(client.runTurn(turnRequest(bridge.demoProjectID(), u"Another"_s))),
                      BridgeClientError::turnInFlight());
    drainEvents();
    EXPECT_EQ(bridge.counters().framesReceived, framesBefore) << "a refused turn must send nothing";

    ASSERT_FALSE(runTask(client.cancelActiveTurn()).error);
    ASSERT_TRUE(waitUntil([&] { return first->done; }));
    expectClientError(*first, BridgeClientError::turnCancelled());
    EXPECT_FALSE(client.hasActiveTurn());
}

TEST_F(BridgeClientTest, CancelWithoutActiveTurnSendsNothing) {
    connectClient();
    const auto before = bridge.counters().framesReceived;
    EXPECT_FALSE(runTask(client.cancelActiveTurn()).error);
    drainEvents();
    EXPECT_EQ(bridge.counters().framesReceived, before);
}

TEST_F(BridgeClientTest, BridgeGoingAwayFailsWaitersWithConnectionClosed) {
    connectClient();
    // No answer can come: the stand-alone turn is slow enough to still run when the bridge stops.
    bridge.server().setChunkDelay(std::chrono::milliseconds(200));
    auto turn = startTask(client.runTurn(turnRequest(bridge.demoProjectID(), u"Keep going"_s)));
    ASSERT_TRUE(waitUntil([&] { return client.hasActiveTurn(); }));
    bridge.stop();
    ASSERT_TRUE(waitUntil([&] { return turn->done; }));
    expectClientError(*turn, BridgeClientError::connectionClosed());
    EXPECT_FALSE(client.isReceiving());
    EXPECT_TRUE(client.hasSocket()) << "the dead socket stays until disconnect or the next connect";
    // Sending now fails in the transport, not with notConnected.
    const auto sent = runTask(client.send(ClientMessage{ClientMessage::Ping{}}));
    EXPECT_TRUE(sent.errorAs<TransportError>().has_value()) << sent.describe();
}

TEST_F(BridgeClientTest, DestroyingTheClientFailsItsWaiters) {
    auto owned = std::make_unique<BridgeClient>();
    ASSERT_TRUE(runTask(owned->connect(pairing())).value.has_value());
    bridge.server().setChunkDelay(std::chrono::milliseconds(200));
    auto turn = startTask(owned->runTurn(turnRequest(bridge.demoProjectID(), u"Slow"_s)));
    owned.reset();
    ASSERT_TRUE(waitUntil([&] { return turn->done; }));
    expectClientError(*turn, BridgeClientError::connectionClosed());
}

// ---------------------------------------------------------------------------------------------------------------
// Against a scripted peer

class ScriptedClientTest : public ::testing::Test {
protected:
    ScriptedClientTest() { ensureCoreApplication(); }

    std::unique_ptr<ScriptedTlsPeer> peer = std::make_unique<ScriptedTlsPeer>();
    BridgeClient client;
    QList<BridgeMessage> observed;
    // What the peer does with every frame after `auth` (which it answers with a protocol-1 hello).
    std::function<void(QWebSocket *, const ClientMessage &)> script;

    Pairing pairing() const {
        return Pairing{peer->host(), peer->port(), u"scripted-token"_s, peer->fingerprint()};
    }

    void connectClient() {
        peer->onText = [this](QWebSocket *socket, const QString &text) {
            const ClientMessage frame = clientFrame(text);
            if (frame.is<ClientMessage::Auth>()) {
                sendFrame(socket, hello(1));
            } else if (script) {
                script(socket, frame);
            }
        };
        client.onMessage = [this](const BridgeMessage &message) { observed.append(message); };
        const auto connected = runTask(client.connect(pairing()));
        ASSERT_TRUE(connected.value.has_value()) << connected.describe();
    }
};

enum class FirstFrameEnd { accepted, clientError, decodingFailure, transportError };

struct FirstFrameCase {
    const char *name;
    std::function<void(QWebSocket *)> answer;
    FirstFrameEnd end;
    std::optional<BridgeClientError> expected = std::nullopt;
};

class FirstFrameTest : public ScriptedClientTest, public ::testing::WithParamInterface<FirstFrameCase> {};

TEST_P(FirstFrameTest, DecidesTheConnectOutcome) {
    peer->onText = [](QWebSocket *socket, const QString &text) {
        if (clientFrame(text).is<ClientMessage::Auth>())
            GetParam().answer(socket);
    };
    const auto connected = runTask(client.connect(pairing()));
    switch (GetParam().end) {
    case FirstFrameEnd::accepted:
        ASSERT_TRUE(connected.value.has_value()) << connected.describe();
        break;
    case FirstFrameEnd::clientError:
        expectClientError(connected, *GetParam().expected);
        EXPECT_FALSE(client.hasSocket()) << "a refused first frame closes the connection";
        break;
    case FirstFrameEnd::decodingFailure:
        EXPECT_TRUE(connected.errorAs<DecodingFailure>().has_value()) << connected.describe();
        break;
    case FirstFrameEnd::transportError:
        EXPECT_TRUE(connected.errorAs<TransportError>().has_value()) << connected.describe();
        break;
    }
    // The first thing the peer heard was the token; only an accepted hello starts receiving.
    ASSERT_FALSE(peer->received().isEmpty());
    EXPECT_EQ(clientFrame(peer->received().first()),
              (ClientMessage{ClientMessage::Auth{u"scripted-token"_s}}));
    EXPECT_EQ(client.isReceiving(), connected.value.has_value());
}

void sendError(QWebSocket *socket, ErrorCode code, const QString &message) {
    sendFrame(socket, BridgeMessage{BridgeMessage::Error{std::nullopt, code, message}});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstFrameTest,
    ::testing::Values(
        FirstFrameCase{"errorUnauthorized",
                       [](QWebSocket *socket) { sendError(socket, ErrorCode::unauthorized, u"bad token"_s); },
                       FirstFrameEnd::clientError, BridgeClientError::unauthorized()},
        FirstFrameCase{"errorOtherCode",
                       [](QWebSocket *socket) { sendError(socket, ErrorCode::badRequest, u"auth first"_s); },
                       FirstFrameEnd::clientError, BridgeClientError::handshakeFailed(u"auth first"_s)},
        FirstFrameCase{"unexpectedPong",
                       [](QWebSocket *socket) { sendFrame(socket, BridgeMessage{BridgeMessage::Pong{}}); },
                       FirstFrameEnd::clientError,
                       BridgeClientError::handshakeFailed(u"unexpected first frame"_s)},
        FirstFrameCase{"undecodable",
                       [](QWebSocket *socket) { socket->sendTextMessage(u"{\"type\":\"surprise\"}"_s); },
                       FirstFrameEnd::decodingFailure},
        FirstFrameCase{"helloAsBinaryMessage",
                       [](QWebSocket *socket) { socket->sendBinaryMessage(encodeBridgeMessage(hello(1))); },
                       FirstFrameEnd::accepted},
        FirstFrameCase{"closedBeforeAnswering",
                       [](QWebSocket *socket) { socket->close(QWebSocketProtocol::CloseCodePolicyViolated); },
                       FirstFrameEnd::transportError}),
    [](const ::testing::TestParamInfo<FirstFrameCase> &param) { return std::string(param.param.name); });

TEST_F(ScriptedClientTest, ProtocolMismatchClosesTheSocketGoingAway) {
    peer->onText = [](QWebSocket *socket, const QString &) { sendFrame(socket, hello(2)); };
    expectClientError(runTask(client.connect(pairing())), BridgeClientError::protocolMismatch(2, 1));
    EXPECT_FALSE(client.hasSocket());
    ASSERT_TRUE(waitUntil([&] { return peer->closedSockets() == 1; }));
    EXPECT_EQ(peer->lastCloseCode(), int(QWebSocketProtocol::CloseCodeGoingAway));
}

TEST_F(ScriptedClientTest, StrayAnswerAndRepoErrorWithoutRequestIdReachOnlyOnMessage) {
    script = [](QWebSocket *socket, const ClientMessage &frame) {
        if (const auto *list = frame.as<ClientMessage::ListRepoSessions>()) {
            sendFrame(socket, BridgeMessage{BridgeMessage::RepoSessions{u"repo-sessions-nobody"_s,
                                                                        {summary(u"stray"_s, u"p"_s)}}});
            sendFrame(socket, BridgeMessage{BridgeMessage::RepoError{
                                  std::nullopt, u"s-1"_s, ErrorCode::badRequest, u"no request"_s}});
            sendFrame(socket, BridgeMessage{BridgeMessage::RepoSessions{list->requestID,
                                                                        {summary(u"mine"_s, u"p"_s)}}});
        }
    };
    connectClient();
    const auto listed = runTask(client.listRepoSessions());
    ASSERT_TRUE(listed.value.has_value()) << listed.describe();
    EXPECT_EQ(*listed.value, QList<RepoSessionSummary>{summary(u"mine"_s, u"p"_s)});
    ASSERT_EQ(observed.size(), 3);
    EXPECT_EQ(observed[0].as<BridgeMessage::RepoSessions>()->requestID, u"repo-sessions-nobody"_s);
    EXPECT_TRUE(observed[1].is<BridgeMessage::RepoError>());
}

TEST_F(ScriptedClientTest, ErrorFrameFailsEveryWaitingRequestWhateverTurnItNames) {
    int requests = 0;
    script = [&](QWebSocket *socket, const ClientMessage &) {
        if (++requests == 3) {
            sendFrame(socket, BridgeMessage{BridgeMessage::Error{u"some-other-turn"_s,
                                                                 ErrorCode::internalError, u"boom"_s}});
        }
    };
    connectClient();
    auto open = startTask(client.openRepoSession(openFrame(u"open-x"_s, u"p"_s)));
    auto list = startTask(client.listRepoSessions());
    auto registration = startTask(client.registerProject(u"X"_s, std::nullopt, RepoAccessMode::ask,
                                                         RepoAccessMode::edit, false, false));
    ASSERT_TRUE(waitUntil([&] { return open->done && list->done && registration->done; }));
    const auto expected = BridgeClientError::turnFailed(u"boom"_s);
    expectClientError(*open, expected);
    expectClientError(*list, expected);
    expectClientError(*registration, expected);
    ASSERT_EQ(observed.size(), 1);
    EXPECT_TRUE(observed[0].is<BridgeMessage::Error>());
    EXPECT_TRUE(client.isReceiving()) << "an error frame does not end the connection";
}

TEST_F(ScriptedClientTest, TurnRoutingFollowsOnlyTheActiveTurn) {
    script = [](QWebSocket *socket, const ClientMessage &frame) {
        if (const auto *turn = frame.as<ClientMessage::Turn>()) {
            const QString id = turn->request.turnID;
            sendFrame(socket, BridgeMessage{BridgeMessage::Status{u"other-turn"_s, TurnState::working}});
            sendFrame(socket, BridgeMessage{BridgeMessage::Status{id, TurnState::working}});
            sendFrame(socket, BridgeMessage{BridgeMessage::Event{id, u"tool_use"_s, u"Read"_s}});
            sendFrame(socket,
                      BridgeMessage{BridgeMessage::Result{TurnResult{u"other-turn"_s, u"not mine"_s}}});
            sendFrame(socket,
                      BridgeMessage{BridgeMessage::Error{u"other-turn"_s, ErrorCode::agentFailed, u"x"_s}});
            sendFrame(socket, BridgeMessage{BridgeMessage::Result{TurnResult{id, u"mine"_s, 0.5}}});
        }
    };
    connectClient();
    QStringList progress;
    const auto finished =
        runTask(client.runTurn(turnRequest(u"p"_s, u"go"_s),
                               [&](const BridgeMessage &message) { progress.append(message.type()); }));
    ASSERT_TRUE(finished.value.has_value()) << finished.describe();
    EXPECT_EQ(finished.value->text, u"mine"_s);
    EXPECT_EQ(progress, (QStringList{u"status"_s, u"event"_s}));
    EXPECT_EQ(observed.size(), 6) << "every frame reaches onMessage";
}

struct TurnEndCase {
    const char *name;
    BridgeMessage frame; // answers the turn "t-1"
    BridgeClientError expected;
};

class TurnEndTest : public ScriptedClientTest, public ::testing::WithParamInterface<TurnEndCase> {};

TEST_P(TurnEndTest, EndsTheTurnWithTheMappedError) {
    script = [](QWebSocket *socket, const ClientMessage &frame) {
        if (frame.is<ClientMessage::Turn>())
            sendFrame(socket, GetParam().frame);
    };
    connectClient();
    expectClientError(runTask(client.runTurn(TurnRequest{.turnID = u"t-1"_s, .project = u"p"_s})),
                      GetParam().expected);
    EXPECT_FALSE(client.hasActiveTurn());
}

using M = BridgeMessage;
INSTANTIATE_TEST_SUITE_P(
    Cases, TurnEndTest,
    ::testing::Values(TurnEndCase{"cancelledStatus", M{M::Status{u"t-1"_s, TurnState::cancelled}},
                                  BridgeClientError::turnCancelled()},
                      TurnEndCase{"errorWithoutTurnIdTurnInFlight",
                                  M{M::Error{std::nullopt, ErrorCode::turnInFlight, u"busy"_s}},
                                  BridgeClientError::turnInFlight()},
                      TurnEndCase{"errorUnauthorized",
                                  M{M::Error{u"t-1"_s, ErrorCode::unauthorized, u"revoked"_s}},
                                  BridgeClientError::unauthorized()}),
    [](const ::testing::TestParamInfo<TurnEndCase> &param) { return std::string(param.param.name); });

TEST_F(ScriptedClientTest, BridgeClosingMidRequestFailsItWithConnectionClosed) {
    script = [](QWebSocket *socket, const ClientMessage &frame) {
        if (frame.is<ClientMessage::ListRepoSessions>())
            socket->close(QWebSocketProtocol::CloseCodeAbnormalDisconnection);
    };
    connectClient();
    expectClientError(runTask(client.listRepoSessions()), BridgeClientError::connectionClosed());
    EXPECT_FALSE(client.isReceiving());
    EXPECT_EQ(client.pendingRequestCount(), 0);
}

TEST_F(ScriptedClientTest, UndecodableFrameEndsReceivingAndFailsWaiters) {
    script = [](QWebSocket *socket, const ClientMessage &frame) {
        if (const auto *list = frame.as<ClientMessage::ListRepoSessions>()) {
            socket->sendTextMessage(u"{\"type\":\"from_the_future\"}"_s);
            // Too late: receiving has ended.
            sendFrame(socket, BridgeMessage{BridgeMessage::RepoSessions{list->requestID, {}}});
        }
    };
    connectClient();
    expectClientError(runTask(client.listRepoSessions()), BridgeClientError::connectionClosed());
    drainEvents();
    EXPECT_FALSE(client.isReceiving());
    EXPECT_TRUE(client.hasSocket());
    EXPECT_TRUE(observed.isEmpty());
}

TEST_F(ScriptedClientTest, DisconnectFailsWaitersInOrderAndClosesGoingAway) {
    connectClient(); // the peer answers nothing after hello
    std::vector<std::string> order;
    auto track = [&order](std::string name, auto task) -> QCoro::Task<void> {
        try {
            co_await std::move(task);
        } catch (const BridgeClientError &error) {
            if (error == BridgeClientError::connectionClosed())
                order.push_back(name);
        }
    };
    // Started in the opposite order of the one disconnect fails them in.
    auto registration =
        startTask(track("register", client.registerProject(u"X"_s, std::nullopt, RepoAccessMode::ask,
                                                           RepoAccessMode::edit, false, false)));
    auto list = startTask(track("list", client.listRepoSessions()));
    auto open = startTask(track("open", client.openRepoSession(openFrame(u"open-1"_s, u"p"_s))));
    auto turn = startTask(track("turn", client.runTurn(turnRequest(u"p"_s, u"go"_s))));
    ASSERT_TRUE(waitUntil([&] { return peer->received().size() == 5; }));

    client.disconnect();
    EXPECT_FALSE(client.hasSocket());
    EXPECT_FALSE(client.hasActiveTurn());
    EXPECT_EQ(client.pendingRequestCount(), 0);
    ASSERT_TRUE(waitUntil([&] { return registration->done && list->done && open->done && turn->done; }));
    EXPECT_EQ(order, (std::vector<std::string>{"turn", "open", "list", "register"}));
    ASSERT_TRUE(waitUntil([&] { return peer->closedSockets() == 1; }));
    EXPECT_EQ(peer->lastCloseCode(), int(QWebSocketProtocol::CloseCodeGoingAway));
}

TEST_F(ScriptedClientTest, ThousandListsAnsweredInReverseOrderReachTheirOwnCallers) {
    constexpr int count = 1000;
    QList<ClientMessage::ListRepoSessions> pending;
    script = [&](QWebSocket *socket, const ClientMessage &frame) {
        if (const auto *list = frame.as<ClientMessage::ListRepoSessions>())
            pending.append(*list);
        if (pending.size() == count) {
            for (auto it = pending.crbegin(); it != pending.crend(); ++it) {
                sendFrame(socket, BridgeMessage{BridgeMessage::RepoSessions{
                                      it->requestID, {summary(u"s-"_s + *it->projectID, *it->projectID)}}});
            }
        }
    };
    connectClient();
    std::vector<std::shared_ptr<TaskOutcome<QList<RepoSessionSummary>>>> lists;
    for (int i = 0; i < count; ++i)
        lists.push_back(startTask(client.listRepoSessions(u"p%1"_s.arg(i))));
    ASSERT_TRUE(
        waitUntil([&] { return std::all_of(lists.begin(), lists.end(), [](auto &o) { return o->done; }); },
                  std::chrono::seconds(30)));
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(lists[i]->value.has_value()) << lists[i]->describe();
        ASSERT_EQ(lists[i]->value->size(), 1);
        EXPECT_EQ(lists[i]->value->first().projectID, u"p%1"_s.arg(i));
    }
}

TEST_F(ScriptedClientTest, HealthProbeSendsTheTokenAndReportsBadStatusOrBody) {
    QByteArray answer = httpResponse(503, "Service Unavailable", "{}");
    peer->onHttp = [&](const QByteArray &head, const QByteArray &) {
        EXPECT_TRUE(head.startsWith("GET /health ")) << head.toStdString();
        EXPECT_TRUE(head.contains("\r\nAuthorization: Bearer scripted-token\r\n")) << head.toStdString();
        return answer;
    };
    expectClientError(runTask(probeBridgeHealth(pairing())), BridgeClientError::http(503));
    answer = httpResponse(200, "OK", "{\"ok\":\"yes\"}");
    const auto probed = runTask(probeBridgeHealth(pairing()));
    EXPECT_TRUE(probed.errorAs<DecodingFailure>().has_value()) << probed.describe();
    EXPECT_EQ(peer->httpRequests(), 2);
}

} // namespace
