// The bridge client as the coding view model sees it.
#include "DesktopCodingBridgeClient.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QPointer>

namespace rirudez {

DesktopCodingBridgeClient::~DesktopCodingBridgeClient() = default;

void DesktopCodingBridgeClient::setOnMessages(MessageBatchHandler handler) {
    if (!handler) {
        setOnMessage(nullptr);
        return;
    }
    setOnMessage([handler = std::move(handler)](const BridgeMessage &message) { handler({message}); });
}

// The frames received and not yet handed over. Shared with the posted delivery, which may run after the
// adapter is gone (it then finds no handler).
struct DesktopCodingBridgeClientAdapter::Batch {
    // A replay brings tens of thousands of frames at a time. A batch is handed over once it holds this many,
    // so the list that takes the frames stays small and its storage is used again for the next batch:
    // growing one list for all of them (and the memory faults of its fresh pages) cost more than handling
    // them.
    static constexpr qsizetype mostFrames = 2048;

    MessageBatchHandler handler;
    QList<BridgeMessage> pending;
    QList<BridgeMessage> spare; // empty, its storage kept for the next batch
    bool posted = false;

    void take(const BridgeMessage &message) {
        if (pending.capacity() == 0)
            pending.reserve(mostFrames);
        pending.append(message);
    }

    void deliver() {
        posted = false;
        if (pending.isEmpty())
            return;
        // Frames that arrive while the handler runs start a new batch.
        QList<BridgeMessage> messages = std::exchange(pending, std::exchange(spare, {}));
        if (handler) {
            const MessageBatchHandler call = handler; // the handler may replace itself
            call(messages);
        }
        messages.clear(); // keeps its storage
        if (pending.isEmpty() && pending.capacity() < messages.capacity())
            pending.swap(messages);
        else if (spare.capacity() < messages.capacity())
            spare = std::move(messages);
    }
};

DesktopCodingBridgeClientAdapter::DesktopCodingBridgeClientAdapter(std::shared_ptr<BridgeClient> client)
    : m_client(std::move(client)) {}

DesktopCodingBridgeClientAdapter::~DesktopCodingBridgeClientAdapter() {
    // The handler usually refers to the view model; the client must not call it after we are gone.
    if (m_batch)
        m_batch->handler = nullptr;
    if (m_client)
        m_client->onMessage = nullptr;
}

void DesktopCodingBridgeClientAdapter::setOnMessage(MessageHandler handler) {
    if (m_batch)
        m_batch->handler = nullptr;
    m_batch.reset();
    m_client->onMessage = std::move(handler);
}

void DesktopCodingBridgeClientAdapter::setOnMessages(MessageBatchHandler handler) {
    if (!handler) {
        setOnMessage(nullptr);
        return;
    }
    if (m_batch) {
        // Frames already received and not yet handed over belong to the connection, not to the handler: the
        // new handler gets them, in order, before anything received later. Dropping them here would lose them
        // for good (the connection goes on and the bridge sends nothing twice).
        m_batch->handler = std::move(handler);
        return;
    }
    auto batch = std::make_shared<Batch>();
    batch->handler = std::move(handler);
    m_batch = batch;
    QPointer<QObject> context(m_client.get());
    m_client->onMessage = [batch, context](const BridgeMessage &message) {
        batch->take(message);
        // Anything but an event keeps its place among the client's own answers: handed over at once.
        if (!message.as<BridgeMessage::RepoEvent>() || batch->pending.size() >= Batch::mostFrames) {
            batch->deliver();
            return;
        }
        if (batch->posted || !context)
            return;
        batch->posted = true;
        QMetaObject::invokeMethod(
            context, [batch] { batch->deliver(); }, Qt::QueuedConnection);
    };
}

QCoro::Task<BridgeMessage> DesktopCodingBridgeClientAdapter::connect(Pairing pairing) {
    // The client stays alive until the operation ends, even when the adapter is dropped meanwhile.
    const std::shared_ptr<BridgeClient> client = m_client;
    QCoro::Task<BridgeMessage> connecting = client->connect(std::move(pairing));
    co_return co_await connecting;
}

QCoro::Task<void> DesktopCodingBridgeClientAdapter::send(ClientMessage message) {
    const std::shared_ptr<BridgeClient> client = m_client;
    QCoro::Task<void> sending = client->send(std::move(message));
    co_await sending;
}

QCoro::Task<RepoSessionSummary> DesktopCodingBridgeClientAdapter::openRepoSession(ClientMessage message) {
    const std::shared_ptr<BridgeClient> client = m_client;
    QCoro::Task<RepoSessionSummary> opening = client->openRepoSession(std::move(message));
    co_return co_await opening;
}

bool DesktopCodingBridgeClientAdapter::isConnected() const {
    return m_client->isReceiving();
}

} // namespace rirudez
