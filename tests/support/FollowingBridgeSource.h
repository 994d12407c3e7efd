#pragma once

// The pairing and health of a local bridge at whatever port it listens on now. A bridge started again comes
// back on another port; a view model under test that uses this source follows it there, as the application
// follows its bridge. Header only: the tests that use it link the coding harness.

#include "DesktopCodingBridgeHealthSource.h"
#include "InProcessBridge.h"

#include <QString>

#include <functional>
#include <utility>

namespace rirudez::testing {

class FollowingBridgeSource final : public DesktopCodingBridgeHealthSource,
                                    public DesktopCodingBridgePairingSource {
public:
    // `port` is asked at every use; 0 stands for a bridge that is not running (a port nobody listens on is
    // used then).
    FollowingBridgeSource(QString stateDirectory, std::function<int()> port) {
        follow(std::move(stateDirectory), std::move(port));
    }
    explicit FollowingBridgeSource(const InProcessBridge &bridge) { follow(bridge); }

    // Follows another bridge from now on.
    void follow(QString stateDirectory, std::function<int()> port) {
        m_stateDirectory = std::move(stateDirectory);
        m_port = std::move(port);
    }
    void follow(const InProcessBridge &bridge) {
        follow(bridge.stateDirectory(), [&bridge] { return bridge.isRunning() ? int(bridge.port()) : 0; });
    }

    Pairing loadPairing() override { return local().loadPairing(); }
    QCoro::Task<BridgeHealth> loadHealth() override {
        LocalDesktopCodingBridgeHealthSource source = local();
        co_return co_await source.loadHealth();
    }

private:
    LocalDesktopCodingBridgeHealthSource local() const {
        const int port = m_port();
        return LocalDesktopCodingBridgeHealthSource(m_stateDirectory, QStringLiteral("127.0.0.1"),
                                                    port > 0 ? port : 1);
    }

    QString m_stateDirectory;
    std::function<int()> m_port;
};

} // namespace rirudez::testing
