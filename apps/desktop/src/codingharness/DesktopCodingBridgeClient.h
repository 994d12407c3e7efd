#pragma once

// The part of the bridge client that the coding view model uses, as a small interface, so the view model can
// be driven by the real client (DesktopCodingBridgeClientAdapter below) or by a test double.

#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/Pairing.h"

#include <QCoroTask>

#include <QList>

#include <functional>
#include <memory>

namespace rirudez {

class BridgeClient;

class DesktopCodingBridgeClient {
public:
    using MessageHandler = std::function<void(const BridgeMessage &)>;
    using MessageBatchHandler = std::function<void(const QList<BridgeMessage> &)>;

    virtual ~DesktopCodingBridgeClient();

    // Installs the observer of every frame received after connect (also of frames that answer one of the
    // client's own requests). Called on the UI thread from the client's routing. Replaces any earlier one.
    virtual void setOnMessage(MessageHandler handler) = 0;
    // The same observer, handed frames in batches, in order: `repo_event` frames that arrive together (as a
    // replay does) come as one batch, so they can be applied as one change. Any other frame comes at once,
    // after the events received before it. By default every frame is a batch of its own. Installing another
    // batch handler hands it the frames received and not yet handed over; none is dropped.
    virtual void setOnMessages(MessageBatchHandler handler);
    // Opens the connection described by the pairing and returns the bridge's `hello` frame.
    virtual QCoro::Task<BridgeMessage> connect(Pairing pairing) = 0;
    // Sends one frame; returns once the socket took it.
    virtual QCoro::Task<void> send(ClientMessage message) = 0;
    // Sends an `open_repo_session` frame and waits for the `repo_session_opened` with its request id.
    virtual QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage message) = 0;
    // Whether the connection made by the last successful connect is still receiving frames. A connection
    // that ended (the bridge went away) reports false, so the next refresh reconnects at once.
    virtual bool isConnected() const { return true; }
};

// The interface over a BridgeClient, which it shares (the client lives as long as the adapter does).
class DesktopCodingBridgeClientAdapter final : public DesktopCodingBridgeClient {
public:
    explicit DesktopCodingBridgeClientAdapter(std::shared_ptr<BridgeClient> client);
    ~DesktopCodingBridgeClientAdapter() override;

    void setOnMessage(MessageHandler handler) override;
    // Collects `repo_event` frames until the event loop has handled what the socket delivered (a batch holds
    // a few thousand frames at most). A handler installed meanwhile (every refresh installs it again)
    // receives the frames collected so far.
    void setOnMessages(MessageBatchHandler handler) override;
    QCoro::Task<BridgeMessage> connect(Pairing pairing) override;
    QCoro::Task<void> send(ClientMessage message) override;
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage message) override;
    bool isConnected() const override;

    const std::shared_ptr<BridgeClient> &client() const { return m_client; }

private:
    struct Batch;
    std::shared_ptr<BridgeClient> m_client;
    std::shared_ptr<Batch> m_batch;
};

} // namespace rirudez
