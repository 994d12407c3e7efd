#pragma once

// What the Bridges sheet shows and does: the bridge on this computer, the paired bridges, which one the
// desktop uses, and pairing a new one by link, by an image of its QR code, by the camera (the sheet's
// scanner hands the text to pairWithLink) or by a pairing code at an address.
//
// While the sheet is open it browses the local network (BridgeDiscovery) and lists the bridges it sees; one
// of them is paired by typing the code it shows.
//
// Owns the list (DesktopPairedBridgeStore) and the token vault. One pairing at a time: while one runs,
// `busy` is true and further requests are refused. Results land in `errorText` / `statusText`; nothing here
// throws into QML. `bridgeChosen` tells the application that the bridge in use changed.

#include "DesktopBridgeTokenVault.h"
#include "DesktopPairedBridgeStore.h"

#include "rirudez/bridgekit/BridgeDiscovery.h"
#include "rirudez/bridgekit/Pairing.h"

#include <QObject>
#include <QString>
#include <QVariantList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace rirudez {

struct DesktopBridgeCandidate;

class DesktopBridgesController : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString localAddress READ localAddress CONSTANT)
    Q_PROPERTY(QVariantList pairedBridges READ pairedBridges NOTIFY pairedBridgesChanged)
    Q_PROPERTY(QString selectedBridgeID READ selectedBridgeID NOTIFY selectedBridgeChanged)
    Q_PROPERTY(QString selectedBridgeName READ selectedBridgeName NOTIFY selectedBridgeChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY messageChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY messageChanged)
    Q_PROPERTY(QString tokenStorageText READ tokenStorageText NOTIFY pairedBridgesChanged)
    // Bridges seen on the local network: id, name, fingerprint (shortened, "" when none was advertised),
    // paired (a paired bridge has that fingerprint).
    Q_PROPERTY(QVariantList discoveredBridges READ discoveredBridges NOTIFY discoveryChanged)
    // What the network list says besides its rows: looking, or why nothing can be listed; "" otherwise.
    Q_PROPERTY(QString discoveryText READ discoveryText NOTIFY discoveryChanged)

public:
    // `directory`: the application data directory of the list and the fallback token file.
    DesktopBridgesController(QString localAddress, std::shared_ptr<DesktopPairedBridgeStore> store,
                             std::shared_ptr<DesktopBridgeTokenVault> vault, QObject *parent = nullptr);
    ~DesktopBridgesController() override;

    QString localAddress() const { return m_localAddress; }
    QVariantList pairedBridges() const;
    QString selectedBridgeID() const { return m_store->selectedBridgeID().value_or(QString()); }
    QString selectedBridgeName() const;
    bool isBusy() const { return m_busy; }
    QString errorText() const { return m_errorText; }
    QString statusText() const { return m_statusText; }
    QString tokenStorageText() const;
    QVariantList discoveredBridges() const;
    QString discoveryText() const;

    // The time a discovered bridge has to say where it can be reached.
    static constexpr std::chrono::milliseconds resolveTimeout{5000};

    const std::shared_ptr<DesktopPairedBridgeStore> &store() const { return m_store; }
    const std::shared_ptr<DesktopBridgeTokenVault> &vault() const { return m_vault; }

    // The pairing of the chosen paired bridge, token read from where it is kept; nothing for this computer.
    // Throws DesktopBridgePairingError when the bridge's token cannot be found.
    QCoro::Task<std::optional<Pairing>> selectedPairing();

    // The pairing tasks; each finishes with errorText or statusText set. Also callable from C++ and tests.
    QCoro::Task<bool> pairWithLink(QString text);
    QCoro::Task<bool> pairWithImage(QString pathOrUrl);
    QCoro::Task<bool> pairWithCode(QString host, int port, QString code,
                                   std::optional<QString> expectedFingerprint = std::nullopt);
    // `bridgeID`: the id of a row of discoveredBridges.
    QCoro::Task<bool> pairWithDiscovered(QString bridgeID, QString code);

    // Replaces the bridges seen on the network (BridgeDiscovery's list while browsing; tests give theirs).
    void setDiscoveredBridges(QList<BridgeDiscoveryFound> found);
    // Browsing, while the sheet is open. Without a DNS-SD service on this computer nothing is listed and
    // discoveryText says why.
    Q_INVOKABLE void startDiscovery();
    Q_INVOKABLE void stopDiscovery();

    Q_INVOKABLE void requestPairWithLink(const QString &text);
    Q_INVOKABLE void requestPairWithImage(const QString &pathOrUrl);
    Q_INVOKABLE void requestPairWithCode(const QString &address, const QString &code);
    Q_INVOKABLE void requestPairWithDiscovered(const QString &bridgeID, const QString &code);
    // "" chooses this computer.
    Q_INVOKABLE void choose(const QString &bridgeID);
    Q_INVOKABLE void remove(const QString &bridgeID);
    Q_INVOKABLE void clearMessages();
    // A scanner or image problem that the sheet reports itself.
    Q_INVOKABLE void reportError(const QString &text);

Q_SIGNALS:
    void pairedBridgesChanged();
    void selectedBridgeChanged();
    void busyChanged();
    void messageChanged();
    void discoveryChanged();
    // The bridge in use changed (chosen, removed, or re-paired with new credentials).
    void bridgeChosen();

private:
    QCoro::Task<bool> keep(DesktopBridgeCandidate candidate);
    // Runs one pairing (busy, messages, keeping what it gives) unless one is running.
    QCoro::Task<bool> pair(QString progress, std::function<QCoro::Task<DesktopBridgeCandidate>()> redeem);
    // The work of pair(): redeems, then keeps the bridge while the controller is still there.
    QCoro::Task<bool> redeemAndKeep(std::function<QCoro::Task<DesktopBridgeCandidate>()> redeem);
    void setBusy(bool busy);
    void setMessages(QString error, QString status);

    QString m_localAddress;
    std::shared_ptr<DesktopPairedBridgeStore> m_store;
    std::shared_ptr<DesktopBridgeTokenVault> m_vault;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_busy = false;
    QString m_errorText;
    QString m_statusText;
    std::unique_ptr<BridgeDiscovery> m_discovery; // while browsing
    QList<BridgeDiscoveryFound> m_discovered;
};

} // namespace rirudez
