#pragma once

// The root of the one window: owns the process's single coding view model (built lazily, exactly once,
// with the fixed collaborators) and the conversation screen's own state, and starts the bridge refresh the
// first time the screen is shown. Showing the screen again never restarts the polling.

#include "DesktopCodingHarnessViewState.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <chrono>
#include <functional>
#include <memory>

namespace rirudez {

class DesktopBridgesController;
class DesktopChosenBridgeClient;
class DesktopChosenBridgeSource;
class DesktopCodingHarnessViewModel;
class DesktopNotificationCenter;
class DesktopNotifier;
class DesktopThreadSearchModel;
class DesktopShellHost;

class RootView : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("RootView is created by the application")
    Q_PROPERTY(QObject *codingViewModel READ codingViewModelObject CONSTANT)
    Q_PROPERTY(rirudez::DesktopCodingHarnessViewState *viewState READ viewState CONSTANT)
    // Desktop notifications for the view model's threads (badges, window title) and the rail's thread search.
    Q_PROPERTY(QObject *notifications READ notificationsObject CONSTANT)
    Q_PROPERTY(QObject *threadSearch READ threadSearchObject CONSTANT)
    // The Bridges sheet's controller; null when the root view was made without one (most tests).
    Q_PROPERTY(QObject *bridges READ bridgesObject CONSTANT)

public:
    using ViewModelFactory = std::function<std::unique_ptr<DesktopCodingHarnessViewModel>()>;

    // The application's root view: the view model of `makeDefaultViewModel`.
    explicit RootView(QObject *parent = nullptr);
    // A root view over another view model (tests wire one to an in-process bridge, and poll more often so
    // the polling ends promptly once the view model is gone). It sends no notifications to the session bus.
    // Its bridge activity log is kept in memory unless a file is given.
    explicit RootView(ViewModelFactory factory,
                      std::chrono::nanoseconds pollInterval = std::chrono::nanoseconds(4'000'000'000),
                      QObject *parent = nullptr, QString activityLogPath = {});
    ~RootView() override;

    // The view model, created on first use and the same object ever after.
    DesktopCodingHarnessViewModel *codingViewModel();
    DesktopCodingHarnessViewState *viewState() { return m_viewState; }
    // Created with the view model.
    DesktopNotificationCenter *notifications();
    DesktopThreadSearchModel *threadSearch();
    DesktopBridgesController *bridges() const { return m_bridges.get(); }
    // Gives the root view its Bridges controller (before the screen is loaded).
    void setBridges(std::unique_ptr<DesktopBridgesController> bridges);
    // Makes the bridge chosen in the Bridges sheet the one the view model talks to: `source` and `client`
    // are the ones the view model was made with. The remembered choice is applied at once.
    void followChosenBridge(std::shared_ptr<DesktopChosenBridgeSource> source,
                            std::shared_ptr<DesktopChosenBridgeClient> client);

    // The shell window's coordinator, built the first time the shell opens (the activity log is recorded
    // from the start).
    Q_INVOKABLE QObject *shellCoordinator();

    // Called when the conversation screen is shown: the first call starts the health refresh and the 4 s
    // session polling; later calls do nothing.
    Q_INVOKABLE void startInitialBridgeRefresh();
    // How many times the polling was started (0 or 1).
    int bridgeRefreshStarts() const { return m_bridgeRefreshStarts; }
    // True while the start-up task runs; it ends one poll interval after the view model is gone. Shared so it
    // can be watched after the root view itself is destroyed.
    std::shared_ptr<const bool> startupTaskRunning() const { return m_startupTaskRunning; }

    // The fixed collaborators: sample projects, the built-in catalogue, health and pairing sources and the
    // recency source on the bridge's default state directory for 127.0.0.1:8800, one bridge client on the
    // shared URL session, an 8-second session-list timeout.
    static std::unique_ptr<DesktopCodingHarnessViewModel> makeDefaultViewModel();
    // The view model the application builds over the chosen bridge: health, pairing and frames through
    // `source` and `client`, session recency from the local bridge's `stateDirectory`.
    static ViewModelFactory chosenBridgeViewModel(QString stateDirectory,
                                                  std::shared_ptr<DesktopChosenBridgeSource> source,
                                                  std::shared_ptr<DesktopChosenBridgeClient> client);

private:
    QObject *codingViewModelObject();
    QObject *notificationsObject();
    QObject *threadSearchObject();
    QObject *bridgesObject() const;

    ViewModelFactory m_factory;
    std::unique_ptr<DesktopBridgesController> m_bridges;
    std::shared_ptr<DesktopChosenBridgeSource> m_chosenSource;
    std::shared_ptr<DesktopChosenBridgeClient> m_chosenClient;
    quint64 m_choiceSequence = 0;
    QString m_threadsBridgeID; // the bridge the view model's threads came from ("" this computer's)
    void applyBridgeChoice();
    QString m_activityLogPath;
    DesktopShellHost *m_shellHost = nullptr;
    std::unique_ptr<DesktopCodingHarnessViewModel> m_codingViewModel;
    DesktopCodingHarnessViewState *m_viewState;
    bool m_notifyOnSessionBus = false;
    DesktopNotifier *m_notifier = nullptr;
    DesktopNotificationCenter *m_notifications = nullptr;
    DesktopThreadSearchModel *m_threadSearch = nullptr;
    int m_bridgeRefreshStarts = 0;
    std::chrono::nanoseconds m_pollInterval;
    std::shared_ptr<bool> m_startupTaskRunning = std::make_shared<bool>(false);
};

} // namespace rirudez
