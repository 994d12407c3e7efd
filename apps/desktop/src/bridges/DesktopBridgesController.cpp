#include "DesktopBridgesController.h"

#include "DesktopBridgePairing.h"
#include "DesktopTask.h"

#include "rirudez/bridgekit/scanner/QRCodeImage.h"

#include <QSet>
#include <QUrl>
#include <QUuid>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

// The sentence for a pairing that failed.
QString pairingFailureText(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DesktopBridgePairingError &e) {
        return e.localizedDescription();
    } catch (const DesktopPairedBridgeStoreError &e) {
        return e.localizedDescription();
    } catch (...) {
        return u"The bridge could not be paired."_s;
    }
}

} // namespace

DesktopBridgesController::DesktopBridgesController(QString localAddress,
                                                   std::shared_ptr<DesktopPairedBridgeStore> store,
                                                   std::shared_ptr<DesktopBridgeTokenVault> vault,
                                                   QObject *parent)
    : QObject(parent), m_localAddress(std::move(localAddress)), m_store(std::move(store)),
      m_vault(std::move(vault)) {
    if (m_store->loadProblem())
        m_errorText = *m_store->loadProblem();
    // Whether a bridge on the network is already paired follows the list.
    connect(this, &DesktopBridgesController::pairedBridgesChanged, this,
            &DesktopBridgesController::discoveryChanged);
}

DesktopBridgesController::~DesktopBridgesController() {
    *m_alive = false;
    stopDiscovery();
}

QVariantList DesktopBridgesController::pairedBridges() const {
    QVariantList list;
    for (const auto &bridge : m_store->bridges()) {
        list.append(QVariantMap{
            {u"id"_s, bridge.id},
            {u"name"_s, bridge.name},
            {u"address"_s, bridge.address()},
            {u"fingerprint"_s, bridge.shortFingerprint()},
            {u"inKeychain"_s, bridge.tokenStorage == DesktopTokenStorage::keychain},
        });
    }
    return list;
}

QString DesktopBridgesController::selectedBridgeName() const {
    if (const auto id = m_store->selectedBridgeID()) {
        if (const auto bridge = m_store->bridge(*id))
            return bridge->name;
    }
    return u"This computer"_s;
}

QString DesktopBridgesController::tokenStorageText() const {
    bool inFile = false;
    bool inKeychain = false;
    for (const auto &bridge : m_store->bridges()) {
        inFile |= bridge.tokenStorage == DesktopTokenStorage::file;
        inKeychain |= bridge.tokenStorage == DesktopTokenStorage::keychain;
    }
    if (inFile)
        return u"No system keychain was available: tokens are kept in a private file (%1, readable only by "
               "you)."_s.arg(m_vault->fallbackFilePath());
    if (inKeychain)
        return u"Tokens are kept in the system keychain."_s;
    return u"Tokens will be kept in the system keychain, or in a private file when there is none."_s;
}

QVariantList DesktopBridgesController::discoveredBridges() const {
    QSet<QString> pairedFingerprints;
    for (const auto &bridge : m_store->bridges())
        pairedFingerprints.insert(bridge.fingerprint.toLower());
    QVariantList list;
    for (const BridgeDiscoveryFound &found : m_discovered) {
        const QString fingerprint = found.fingerprintText();
        const DesktopPairedBridge shown{{}, found.name, {}, 0, fingerprint, DesktopTokenStorage::file};
        list.append(QVariantMap{
            {u"id"_s, found.id},
            {u"name"_s, found.name},
            {u"fingerprint"_s, shown.shortFingerprint()},
            {u"paired"_s, found.fingerprint && pairedFingerprints.contains(*found.fingerprint)},
        });
    }
    return list;
}

QString DesktopBridgesController::discoveryText() const {
    if (!m_discovery || !m_discovered.isEmpty())
        return {};
    if (!m_discovery->isBrowsing())
        return u"Bridges on the local network cannot be listed: this computer has no DNS-SD service "
               "(avahi-daemon) running. Type the bridge’s address and code instead."_s;
    return u"Looking for bridges on the local network…"_s;
}

void DesktopBridgesController::setDiscoveredBridges(QList<BridgeDiscoveryFound> found) {
    m_discovered = std::move(found);
    Q_EMIT discoveryChanged();
}

void DesktopBridgesController::startDiscovery() {
    if (m_discovery)
        return;
    m_discovery = std::make_unique<BridgeDiscovery>();
    BridgeDiscovery *discovery = m_discovery.get();
    connect(discovery, &BridgeDiscovery::bridgesChanged, this,
            [this, discovery] { setDiscoveredBridges(discovery->bridges()); });
    connect(discovery, &BridgeDiscovery::isBrowsingChanged, this,
            &DesktopBridgesController::discoveryChanged);
    discovery->start();
    Q_EMIT discoveryChanged();
}

void DesktopBridgesController::stopDiscovery() {
    if (!m_discovery)
        return;
    // What the browser says while it stops is not news.
    m_discovery->disconnect(this);
    m_discovery.reset();
    setDiscoveredBridges({});
}

void DesktopBridgesController::setBusy(bool busy) {
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged();
}

void DesktopBridgesController::setMessages(QString error, QString status) {
    m_errorText = std::move(error);
    m_statusText = std::move(status);
    Q_EMIT messageChanged();
}

void DesktopBridgesController::clearMessages() {
    setMessages({}, {});
}

void DesktopBridgesController::reportError(const QString &text) {
    setMessages(text, {});
}

QCoro::Task<std::optional<Pairing>> DesktopBridgesController::selectedPairing() {
    const auto id = m_store->selectedBridgeID();
    if (!id)
        co_return std::nullopt;
    const auto bridge = m_store->bridge(*id);
    if (!bridge)
        co_return std::nullopt;
    const auto vault = m_vault; // the vault outlives this task even when the controller goes
    const auto token = co_await vault->token(bridge->id, bridge->tokenStorage);
    if (!token)
        throw DesktopBridgePairingError(
            u"The token of the bridge “%1” (%2) was not found in the %3. Pair it again."_s.arg(
                bridge->name, bridge->address(),
                bridge->tokenStorage == DesktopTokenStorage::keychain ? u"system keychain"_s
                                                                      : u"private token file"_s));
    co_return Pairing{bridge->host, bridge->port, *token, bridge->fingerprint};
}

QCoro::Task<bool> DesktopBridgesController::keep(DesktopBridgeCandidate candidate) {
    const std::weak_ptr<bool> alive = m_alive;
    const auto vault = m_vault;
    DesktopPairedBridge bridge{{},
                               candidate.name,
                               candidate.pairing.host,
                               candidate.pairing.port,
                               candidate.pairing.fp.value_or(QString()).toLower(),
                               DesktopTokenStorage::keychain};
    // The id first (re-pairing keeps the one the address had), then the token under it, then the record.
    for (const auto &known : m_store->bridges()) {
        if (known.host == bridge.host && known.port == bridge.port)
            bridge.id = known.id;
    }
    if (bridge.id.isEmpty())
        bridge.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    bridge.tokenStorage = co_await vault->store(bridge.id, candidate.pairing.token);
    if (alive.expired())
        co_return false;
    const auto stored = m_store->add(bridge);
    const bool wasSelected = m_store->selectedBridgeID() == stored.id;
    m_store->select(stored.id);
    Q_EMIT pairedBridgesChanged();
    Q_EMIT selectedBridgeChanged();
    Q_EMIT bridgeChosen();
    setMessages({}, wasSelected ? u"Paired again with “%1” (%2)."_s.arg(stored.name, stored.address())
                                : u"Paired with “%1” (%2). The desktop now uses it."_s.arg(stored.name,
                                                                                           stored.address()));
    co_return true;
}

QCoro::Task<bool>
DesktopBridgesController::pair(QString progress,
                               std::function<QCoro::Task<DesktopBridgeCandidate>()> redeem) {
    if (m_busy)
        co_return false;
    const std::weak_ptr<bool> alive = m_alive;
    setBusy(true);
    setMessages({}, std::move(progress));
    QCoro::Task<std::optional<DesktopTaskOutcome<bool>>> pairing =
        guardedTask(alive, redeemAndKeep(std::move(redeem)));
    const std::optional<DesktopTaskOutcome<bool>> paired = co_await pairing;
    if (!paired)
        co_return false;
    if (paired->failure)
        setMessages(pairingFailureText(paired->failure), {});
    setBusy(false);
    co_return paired->value.value_or(false);
}

QCoro::Task<bool>
DesktopBridgesController::redeemAndKeep(std::function<QCoro::Task<DesktopBridgeCandidate>()> redeem) {
    const std::weak_ptr<bool> alive = m_alive;
    QCoro::Task<DesktopBridgeCandidate> redeeming = redeem();
    auto candidate = co_await redeeming;
    if (alive.expired())
        co_return false;
    QCoro::Task<bool> keeping = keep(std::move(candidate));
    co_return co_await keeping;
}

QCoro::Task<bool> DesktopBridgesController::pairWithLink(QString text) {
    QCoro::Task<bool> pairing =
        pair(u"Checking the bridge…"_s, [text] { return DesktopBridgePairing::checkLink(text); });
    co_return co_await pairing;
}

QCoro::Task<bool> DesktopBridgesController::pairWithImage(QString pathOrUrl) {
    const QUrl url(pathOrUrl);
    const QString path = url.isLocalFile() ? url.toLocalFile() : pathOrUrl;
    const auto result = QRCodeImage::readFile(path);
    if (!result.text) {
        setMessages(
            result.problem == QRCodeImage::FileProblem::noCode
                ? u"No QR code was found in that image. Use a sharp picture of the code the bridge shows."_s
                : u"That file could not be opened as an image."_s,
            {});
        co_return false;
    }
    co_return co_await pairWithLink(*result.text);
}

QCoro::Task<bool> DesktopBridgesController::pairWithCode(QString host, int port, QString code,
                                                         std::optional<QString> expectedFingerprint) {
    QCoro::Task<bool> pairing = pair(u"Asking the bridge…"_s, [host, port, code, expectedFingerprint] {
        return DesktopBridgePairing::redeemCode(host, port, code, expectedFingerprint);
    });
    co_return co_await pairing;
}

QCoro::Task<bool> DesktopBridgesController::pairWithDiscovered(QString bridgeID, QString code) {
    const auto found =
        std::find_if(m_discovered.begin(), m_discovered.end(),
                     [&](const BridgeDiscoveryFound &bridge) { return bridge.id == bridgeID; });
    if (found == m_discovered.end()) {
        if (!m_busy)
            setMessages(
                u"That bridge is no longer seen on the network. Pick another one, or type its address."_s,
                {});
        co_return false;
    }
    const BridgeDiscoveryFound bridge = *found;
    QCoro::Task<bool> pairing = pair(u"Asking “%1”…"_s.arg(bridge.name), [bridge, code] {
        return DesktopBridgePairing::redeemDiscovered(bridge, code, resolveTimeout);
    });
    co_return co_await pairing;
}

void DesktopBridgesController::requestPairWithLink(const QString &text) {
    startDetached(pairWithLink(text));
}

void DesktopBridgesController::requestPairWithImage(const QString &pathOrUrl) {
    startDetached(pairWithImage(pathOrUrl));
}

void DesktopBridgesController::requestPairWithCode(const QString &address, const QString &code) {
    // "host:port", or a host alone for the bridge's usual port.
    QString host = address.trimmed();
    int port = 8800;
    const int colon = host.lastIndexOf(u':');
    if (colon > 0 && !host.endsWith(u']') && host.count(u':') == 1) {
        bool ok = false;
        port = host.mid(colon + 1).toInt(&ok);
        host.truncate(colon);
        if (!ok || port < 1 || port > 65535) {
            setMessages(u"The port after “:” must be a number from 1 to 65535."_s, {});
            return;
        }
    }
    if (host.isEmpty()) {
        setMessages(u"Type the bridge’s address (for example 192.168.1.20:8800)."_s, {});
        return;
    }
    startDetached(pairWithCode(host, port, code));
}

void DesktopBridgesController::requestPairWithDiscovered(const QString &bridgeID, const QString &code) {
    startDetached(pairWithDiscovered(bridgeID, code));
}

void DesktopBridgesController::choose(const QString &bridgeID) {
    const std::optional<QString> id = bridgeID.isEmpty() ? std::nullopt : std::optional<QString>(bridgeID);
    if (m_store->selectedBridgeID() == id)
        return;
    try {
        if (!m_store->select(id))
            return;
    } catch (const DesktopPairedBridgeStoreError &e) {
        setMessages(e.localizedDescription(), {});
        return;
    }
    Q_EMIT selectedBridgeChanged();
    Q_EMIT bridgeChosen();
    setMessages({}, u"The desktop now uses “%1”."_s.arg(selectedBridgeName()));
}

void DesktopBridgesController::remove(const QString &bridgeID) {
    const auto bridge = m_store->bridge(bridgeID);
    if (!bridge)
        return;
    const bool wasSelected = m_store->selectedBridgeID() == bridgeID;
    try {
        m_store->remove(bridgeID);
    } catch (const DesktopPairedBridgeStoreError &e) {
        setMessages(e.localizedDescription(), {});
        return;
    }
    // The token goes too; the task holds the vault, not this controller.
    [](std::shared_ptr<DesktopBridgeTokenVault> vault, DesktopPairedBridge gone) -> QCoro::Task<> {
        co_await vault->remove(gone.id, gone.tokenStorage);
    }(m_vault, *bridge);
    Q_EMIT pairedBridgesChanged();
    if (wasSelected) {
        Q_EMIT selectedBridgeChanged();
        Q_EMIT bridgeChosen();
    }
    setMessages({}, u"Removed “%1”."_s.arg(bridge->name));
}

} // namespace rirudez
