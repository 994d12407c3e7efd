#pragma once

// The bridge the coding view model talks to: the one on this computer (the local sources, unchanged) or a
// paired bridge on another machine. The view model is created once with these two as its health/pairing
// source and its client; choosing another bridge changes what they answer, and the client then reports its
// connection as gone, so the next refresh reconnects — to the chosen bridge, pinned to its fingerprint.

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"

#include "rirudez/bridgekit/Pairing.h"

#include <memory>
#include <optional>

namespace rirudez {

class DesktopChosenBridgeSource final : public DesktopCodingBridgeHealthSource,
                                        public DesktopCodingBridgePairingSource {
public:
    explicit DesktopChosenBridgeSource(std::shared_ptr<LocalDesktopCodingBridgeHealthSource> local);

    void useLocal();
    // A paired bridge with its token; connections and the health probe are pinned to its fingerprint.
    void usePaired(Pairing pairing);
    // A paired bridge whose credentials are not usable (yet): every request fails with this sentence.
    void useUnavailable(QString reason);

    bool isLocal() const { return !m_paired && !m_unavailable; }
    // Changes with every choice, so a client can tell its connection belongs to an earlier one.
    quint64 generation() const { return m_generation; }

    Pairing loadPairing() override;
    QCoro::Task<BridgeHealth> loadHealth() override;

private:
    std::shared_ptr<LocalDesktopCodingBridgeHealthSource> m_local;
    std::optional<Pairing> m_paired;
    std::optional<QString> m_unavailable;
    quint64 m_generation = 0;
};

// The view model's client: connects through the inner client and counts a connection made for an earlier
// choice as ended.
class DesktopChosenBridgeClient final : public DesktopCodingBridgeClient {
public:
    DesktopChosenBridgeClient(std::shared_ptr<DesktopCodingBridgeClientAdapter> inner,
                              std::shared_ptr<DesktopChosenBridgeSource> source);

    void setOnMessage(MessageHandler handler) override { m_inner->setOnMessage(std::move(handler)); }
    void setOnMessages(MessageBatchHandler handler) override { m_inner->setOnMessages(std::move(handler)); }
    QCoro::Task<BridgeMessage> connect(Pairing pairing) override;
    QCoro::Task<void> send(ClientMessage message) override { return m_inner->send(std::move(message)); }
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage message) override {
        return m_inner->openRepoSession(std::move(message));
    }
    bool isConnected() const override;

    // Drops the connection of the previous choice at once (the next refresh makes the new one).
    void choiceChanged();

private:
    std::shared_ptr<DesktopCodingBridgeClientAdapter> m_inner;
    std::shared_ptr<DesktopChosenBridgeSource> m_source;
    quint64 m_connectedGeneration = 0;
};

} // namespace rirudez
