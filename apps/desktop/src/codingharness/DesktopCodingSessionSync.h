#pragma once

// Keeps the desktop's threads in step with the bridge's repo sessions: connects on demand, asks for the
// session list (with its time limit), mirrors the sessions into threads (hydration), subscribes to the
// selected thread's session, and repeats every poll interval. Owns the session registry. What it needs of the
// view model (the selection, the refresh error line, the frame handler) comes through its Host.

#include "DesktopBridgeSessionMirror.h"
#include "DesktopBridgeSessionRegistry.h"
#include "DesktopCodingComposerSelection.h"
#include "DesktopCodingHarnessModels.h"

#include "rirudez/bridgekit/BridgeClientError.h"
#include "rirudez/bridgekit/BridgeMessages.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace rirudez {

class DesktopCodingBridgeClient;
class DesktopCodingBridgePairingSource;
class DesktopCodingBridgeSessionRecencySource;
class DesktopCodingThreadStore;

// A session-list request that got no answer in time.
class DesktopCodingBridgeSessionListTimeoutError final : public BridgeKitError {
public:
    DesktopCodingBridgeSessionListTimeoutError();
    // "DesktopCodingBridgeSessionListTimeoutError"
    QString diagnosticText() const override;
    // "Timed out waiting for Zad Ezarur repo sessions."
    QString localizedDescription() const override;
};

// What hydration asks the view model to select.
struct DesktopCodingBridgeSessionSelection {
    // True switches project and thread; false only refreshes the composer settings.
    bool selectsProjectThread = false;
    QString projectID;
    QString threadID;
    DesktopCodingComposerSettings settings;
};

class DesktopCodingSessionSync : public QObject {
    Q_OBJECT
public:
    class Host {
    public:
        virtual ~Host();
        virtual void handleBridgeMessage(const BridgeMessage &message) = 0;
        virtual void handleBridgeMessages(const QList<BridgeMessage> &messages) {
            for (const BridgeMessage &message : messages)
                handleBridgeMessage(message);
        }
        virtual bool isSending() const = 0;
        virtual const QList<DesktopCodingProject> &projects() const = 0;
        virtual std::optional<qsizetype> selectedThreadIndex() const = 0;
        virtual void applyBridgeSessionSelection(const DesktopCodingBridgeSessionSelection &selection) = 0;
        // Whether the visible session shows chat rows (a list timeout is then not shown over it).
        virtual bool visibleSessionShowsChat() const = 0;
        virtual void setBridgeRefreshError(const std::optional<QString> &error) = 0;
        // The bridge session of the turn being sent, once it has one.
        virtual std::optional<QString> inFlightBridgeSessionID() const = 0;
    };

    DesktopCodingSessionSync(Host &host, DesktopCodingThreadStore &store,
                             std::shared_ptr<DesktopCodingBridgePairingSource> pairingSource,
                             std::shared_ptr<DesktopCodingBridgeSessionRecencySource> recencySource,
                             std::shared_ptr<DesktopCodingBridgeClient> client,
                             std::uint64_t sessionListTimeoutNanoseconds, QObject *parent = nullptr);
    ~DesktopCodingSessionSync() override;

    // Installs the frame handler; connects (and applies the hello through the host) unless connected.
    QCoro::Task<void> ensureConnected();
    // One refresh: connect, list, hydrate, subscribe; failures end in the refresh error line.
    QCoro::Task<void> refresh();
    QCoro::Task<void> runLoop(std::uint64_t pollIntervalNanoseconds, std::optional<int> maximumPolls);
    void stopLoop() { ++m_loopGeneration; }
    // Another bridge: forgets the session mappings, subscriptions and recency of the old one. A list still
    // awaited from it ends empty (its answer no longer matters); the loop goes on with the new bridge.
    void forgetBridge();
    // While a turn runs: when the connection carrying it ended, connects and subscribes again (the bridge's
    // replay brings what was missed; frames seen before are dropped). The turn goes on.
    QCoro::Task<void> followRunningTurn();
    // Subscribes to the selected thread's session; failures end in the refresh error line.
    QCoro::Task<void> subscribeToSelected();
    // Throws what connecting or sending throws.
    QCoro::Task<void> subscribeIfNeeded(QString sessionID);

    // A `repo_sessions` frame: finishes the pending list when it answers it, else hydrates.
    void receiveSessions(const QString &requestID, const QList<RepoSessionSummary> &sessions);
    // A `repo_error` for the pending list fails it; returns whether it did.
    bool failPendingList(const QString &requestID, const QString &message);
    void hydrate(const QList<RepoSessionSummary> &sessions);
    std::optional<DesktopCodingBridgeSessionSelection>
    hydrateSession(const RepoSessionSummary &summary, const std::optional<QDateTime> &updatedAt,
                   bool selectSession);
    // The registry's mapping, else the first thread bound to the session.
    std::optional<QString> threadID(const QString &forBridgeSessionID) const;
    void bind(const QString &sessionID, const QString &toThreadID);

    DesktopBridgeSessionRegistry &registry() { return m_registry; }
    const DesktopBridgeSessionRegistry &registry() const { return m_registry; }
    bool hasPendingSessionList() const { return m_pendingSessionList != nullptr; }

private:
    QCoro::Task<void> refreshOnce();
    // Asks for the session list and applies it; refreshOnce() reports its failure.
    QCoro::Task<void> listOnce();
    void finishPendingSessionList(const QString &requestID, BridgeSessionListResult result);

    Host &m_host;
    DesktopCodingThreadStore &m_store;
    std::shared_ptr<DesktopCodingBridgePairingSource> m_pairingSource;
    std::shared_ptr<DesktopCodingBridgeSessionRecencySource> m_recencySource;
    std::shared_ptr<DesktopCodingBridgeClient> m_client;
    std::uint64_t m_sessionListTimeoutNanoseconds;
    DesktopBridgeSessionRegistry m_registry;
    std::shared_ptr<BridgeSessionListRequest> m_pendingSessionList;
    std::optional<QDateTime> m_latestSeenBridgeSessionUpdatedAt;
    std::uint64_t m_loopGeneration = 0;
    bool m_refreshing = false;
};

} // namespace rirudez
