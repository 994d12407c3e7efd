// The bridge client as the coding view model sees it.
#include "DesktopCodingBridgeClient.h"

#include "rirudez/bridgekit/BridgeClient.h"

namespace rirudez {

DesktopCodingBridgeClient::~DesktopCodingBridgeClient() = default;

DesktopCodingBridgeClientAdapter::DesktopCodingBridgeClientAdapter(std::shared_ptr<BridgeClient> client)
    : m_client(std::move(client)) {}

DesktopCodingBridgeClientAdapter::~DesktopCodingBridgeClientAdapter() {
    // The handler usually refers to the view model; the client must not call it after we are gone.
    if (m_client)
        m_client->onMessage = nullptr;
}

void DesktopCodingBridgeClientAdapter::setOnMessage(MessageHandler handler) {
    m_client->onMessage = std::move(handler);
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
