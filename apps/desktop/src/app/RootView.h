#pragma once

// The root of the one window: owns the process's single coding view model (built lazily, exactly once,
// with the fixed collaborators) and the conversation screen's own state, and starts the bridge refresh the
// first time the screen is shown. Showing the screen again never restarts the polling.

#include "DesktopCodingHarnessViewState.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>

namespace rirudez {

class DesktopCodingHarnessViewModel;

class RootView : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("RootView is created by the application")
    Q_PROPERTY(QObject *codingViewModel READ codingViewModelObject CONSTANT)
    Q_PROPERTY(rirudez::DesktopCodingHarnessViewState *viewState READ viewState CONSTANT)

public:
    using ViewModelFactory = std::function<std::unique_ptr<DesktopCodingHarnessViewModel>()>;

    // The application's root view: the view model of `makeDefaultViewModel`.
    explicit RootView(QObject *parent = nullptr);
    // A root view over another view model (tests wire one to an in-process bridge).
    explicit RootView(ViewModelFactory factory, QObject *parent = nullptr);
    ~RootView() override;

    // The view model, created on first use and the same object ever after.
    DesktopCodingHarnessViewModel *codingViewModel();
    DesktopCodingHarnessViewState *viewState() { return m_viewState; }

    // Called when the conversation screen is shown: the first call starts the health refresh and the 4 s
    // session polling; later calls do nothing.
    Q_INVOKABLE void startInitialBridgeRefresh();
    // How many times the polling was started (0 or 1).
    int bridgeRefreshStarts() const { return m_bridgeRefreshStarts; }

    // The fixed collaborators: sample projects, the built-in catalogue, health and pairing sources and the
    // recency source on the bridge's default state directory for 127.0.0.1:8800, one bridge client on the
    // shared URL session, an 8-second session-list timeout.
    static std::unique_ptr<DesktopCodingHarnessViewModel> makeDefaultViewModel();

private:
    QObject *codingViewModelObject();

    ViewModelFactory m_factory;
    std::unique_ptr<DesktopCodingHarnessViewModel> m_codingViewModel;
    DesktopCodingHarnessViewState *m_viewState;
    int m_bridgeRefreshStarts = 0;
};

} // namespace rirudez
