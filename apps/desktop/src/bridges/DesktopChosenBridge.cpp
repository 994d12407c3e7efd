#include "DesktopChosenBridge.h"

#include "DesktopBridgePairing.h"

#include "rirudez/bridgekit/BridgeClient.h"

namespace rirudez {

DesktopChosenBridgeSource::DesktopChosenBridgeSource(
    std::shared_ptr<LocalDesktopCodingBridgeHealthSource> local)
    : m_local(std::move(local)) {}

void DesktopChosenBridgeSource::useLocal() {
    m_paired.reset();
    m_unavailable.reset();
    ++m_generation;
}

void DesktopChosenBridgeSource::usePaired(Pairing pairing) {
    m_paired = std::move(pairing);
    m_unavailable.reset();
    ++m_generation;
}

void DesktopChosenBridgeSource::useUnavailable(QString reason) {
    m_paired.reset();
    m_unavailable = std::move(reason);
    ++m_generation;
}

Pairing DesktopChosenBridgeSource::loadPairing() {
    if (m_unavailable)
        throw DesktopBridgePairingError(*m_unavailable);
    if (m_paired)
        return *m_paired;
    return m_local->loadPairing();
}

QCoro::Task<BridgeHealth> DesktopChosenBridgeSource::loadHealth() {
    if (isLocal()) {
        const std::shared_ptr<LocalDesktopCodingBridgeHealthSource> local = m_local;
        co_return co_await local->loadHealth();
    }
    Pairing pairing = loadPairing(); // before the first suspension: nothing of `this` is touched after it
    co_return co_await probeBridgeHealth(std::move(pairing));
}

DesktopChosenBridgeClient::DesktopChosenBridgeClient(std::shared_ptr<DesktopCodingBridgeClientAdapter> inner,
                                                     std::shared_ptr<DesktopChosenBridgeSource> source)
    : m_inner(std::move(inner)), m_source(std::move(source)) {}

QCoro::Task<BridgeMessage> DesktopChosenBridgeClient::connect(Pairing pairing) {
    m_connectedGeneration = m_source->generation();
    const std::shared_ptr<DesktopCodingBridgeClientAdapter> inner = m_inner;
    co_return co_await inner->connect(std::move(pairing));
}

bool DesktopChosenBridgeClient::isConnected() const {
    return m_connectedGeneration == m_source->generation() && m_inner->isConnected();
}

void DesktopChosenBridgeClient::choiceChanged() {
    if (m_connectedGeneration != m_source->generation() && m_inner->client())
        m_inner->client()->disconnect();
}

} // namespace rirudez
