#include "RootView.h"

#include "DesktopBridgeActivityStore.h"
#include "DesktopBridgePairing.h"
#include "DesktopBridgesController.h"
#include "DesktopChosenBridge.h"
#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopNotificationCenter.h"
#include "DesktopNotifier.h"
#include "DesktopShellHost.h"
#include "DesktopTask.h"
#include "DesktopThreadSearchModel.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QAbstractItemModel>
#include <QCoroTask>
#include <QDBusConnection>
#include <QLoggingCategory>

#include <utility>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

// Which bridge the desktop talks to, and why a paired one cannot be used. The token never appears.
Q_LOGGING_CATEGORY(lcDesktopApp, "rirudez.desktop.app")

// The screen's start-up task: the health refresh once, then the session list every poll interval until the
// view model stops the loop or goes away. It holds the view model weakly.
QCoro::Task<void> runStartupTask(QPointer<DesktopCodingHarnessViewModel> viewModel,
                                 std::uint64_t pollInterval, std::shared_ptr<bool> running) {
    *running = true;
    if (viewModel)
        co_await viewModel->refreshBridgeHealth();
    if (viewModel)
        co_await viewModel->runBridgeSessionDiscoveryLoop(pollInterval);
    *running = false;
}

} // namespace

RootView::RootView(QObject *parent)
    : RootView(&RootView::makeDefaultViewModel,
               std::chrono::nanoseconds(DesktopCodingHarnessViewModel::defaultPollIntervalNanoseconds),
               parent, DesktopBridgeActivityStore::defaultFilePath()) {
    m_notifyOnSessionBus = true;
    // Paired bridges and their fallback token file live in the application's data directory.
    const QString directory = DesktopPairedBridgeStore::defaultDirectory();
    setBridges(std::make_unique<DesktopBridgesController>(
        u"127.0.0.1:8800"_s, std::make_shared<DesktopPairedBridgeStore>(directory),
        std::make_shared<DesktopBridgeTokenVault>(directory)));

    // The view model talks to the chosen bridge: this computer's exactly as before, or a paired one.
    const QString stateDirectory = LocalDesktopCodingBridgeHealthSource::defaultStateDirectory();
    auto source = std::make_shared<DesktopChosenBridgeSource>(
        std::make_shared<LocalDesktopCodingBridgeHealthSource>(stateDirectory, u"127.0.0.1"_s, 8800));
    auto client = std::make_shared<DesktopChosenBridgeClient>(
        std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>()), source);
    m_factory = chosenBridgeViewModel(stateDirectory, source, client);
    followChosenBridge(std::move(source), std::move(client));
}

RootView::ViewModelFactory
RootView::chosenBridgeViewModel(QString stateDirectory, std::shared_ptr<DesktopChosenBridgeSource> source,
                                std::shared_ptr<DesktopChosenBridgeClient> client) {
    return
        [stateDirectory = std::move(stateDirectory), source = std::move(source), client = std::move(client)] {
            return std::make_unique<DesktopCodingHarnessViewModel>(
                DesktopCodingHarnessViewModel::sampleProjects(),
                DesktopCodingHarnessViewModel::fallbackModelCatalog(), source, source,
                std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(stateDirectory), client,
                DesktopCodingHarnessViewModel::defaultSessionListTimeoutNanoseconds);
        };
}

void RootView::followChosenBridge(std::shared_ptr<DesktopChosenBridgeSource> source,
                                  std::shared_ptr<DesktopChosenBridgeClient> client) {
    m_chosenSource = std::move(source);
    m_chosenClient = std::move(client);
    if (m_bridges)
        connect(m_bridges.get(), &DesktopBridgesController::bridgeChosen, this, &RootView::applyBridgeChoice);
    applyBridgeChoice();
}

void RootView::applyBridgeChoice() {
    if (!m_chosenSource || !m_chosenClient)
        return;
    const quint64 sequence = ++m_choiceSequence;
    // The threads on screen are the old bridge's: they go at once, before anything of the new one loads.
    const QString chosen = m_bridges ? m_bridges->selectedBridgeID() : QString();
    if (std::exchange(m_threadsBridgeID, chosen) != chosen && m_codingViewModel)
        m_codingViewModel->forgetBridge();
    auto finish = [](QPointer<RootView> self, quint64 choice) {
        if (!self || self->m_choiceSequence != choice)
            return;
        self->m_chosenClient->choiceChanged();
        if (self->m_codingViewModel) {
            self->m_codingViewModel->requestRefreshBridgeHealth();
            self->m_codingViewModel->requestRefreshBridgeSessions();
        }
    };
    if (chosen.isEmpty()) {
        m_chosenSource->useLocal();
        finish(this, sequence);
        return;
    }
    // Until the token is read (the keychain answers asynchronously) nothing connects anywhere.
    m_chosenSource->useUnavailable(u"Reading the paired bridge’s token…"_s);
    m_chosenClient->choiceChanged();
    [](QPointer<RootView> self, quint64 choice, auto done) -> QCoro::Task<> {
        QCoro::Task<std::optional<DesktopTaskOutcome<std::optional<Pairing>>>> reading =
            guardedTask(self.data(), self->m_bridges->selectedPairing());
        const std::optional<DesktopTaskOutcome<std::optional<Pairing>>> read = co_await reading;
        if (!read || self->m_choiceSequence != choice)
            co_return;
        if (read->value && *read->value) {
            qCInfo(lcDesktopApp).noquote()
                << "using the paired bridge at" << (*read->value)->host << "port" << (*read->value)->port;
            self->m_chosenSource->usePaired(**read->value);
        } else {
            const QString failure = visitFailure<DesktopBridgePairingError>(
                read->failure, [](const DesktopBridgePairingError &e) { return e.localizedDescription(); },
                [] { return u"The paired bridge could not be used."_s; });
            qCWarning(lcDesktopApp).noquote() << failure;
            self->m_chosenSource->useUnavailable(failure);
        }
        done(self, choice);
    }(this, sequence, finish);
}

void RootView::setBridges(std::unique_ptr<DesktopBridgesController> bridges) {
    m_bridges = std::move(bridges);
}

QObject *RootView::bridgesObject() const {
    return m_bridges.get();
}

RootView::RootView(ViewModelFactory factory, std::chrono::nanoseconds pollInterval, QObject *parent,
                   QString activityLogPath)
    : QObject(parent), m_factory(std::move(factory)), m_activityLogPath(std::move(activityLogPath)),
      m_viewState(new DesktopCodingHarnessViewState(this)), m_pollInterval(pollInterval) {}

RootView::~RootView() {
    // What watches the view model goes before it.
    delete m_shellHost;
    m_shellHost = nullptr;
    delete m_threadSearch;
    delete m_notifications;
    if (m_codingViewModel)
        m_codingViewModel->stopBridgeSessionDiscoveryLoop();
}

DesktopCodingHarnessViewModel *RootView::codingViewModel() {
    if (!m_codingViewModel) {
        m_codingViewModel = m_factory();
        DesktopCodingHarnessViewModel *viewModel = m_codingViewModel.get();
        m_viewState->setViewModel(viewModel);
        m_notifier = new DesktopNotifier(m_notifyOnSessionBus ? QDBusConnection::sessionBus()
                                                              : QDBusConnection(u"no notification bus"_s),
                                         this);
        m_notifications = new DesktopNotificationCenter(
            viewModel, m_notifier, DesktopNotificationCenter::defaultSettleInterval, this);
        m_threadSearch = new DesktopThreadSearchModel(
            qobject_cast<QAbstractItemModel *>(viewModel->threadModel()),
            [viewModel](int row) -> const DesktopCodingThread * {
                return row >= 0 && row < viewModel->threads().size() ? &viewModel->threads()[row] : nullptr;
            },
            this);
        m_shellHost = new DesktopShellHost(viewModel, m_activityLogPath, this);
    }
    return m_codingViewModel.get();
}

DesktopNotificationCenter *RootView::notifications() {
    codingViewModel();
    return m_notifications;
}

DesktopThreadSearchModel *RootView::threadSearch() {
    codingViewModel();
    return m_threadSearch;
}

QObject *RootView::notificationsObject() {
    return notifications();
}

QObject *RootView::threadSearchObject() {
    return threadSearch();
}

QObject *RootView::shellCoordinator() {
    codingViewModel();
    return m_shellHost->coordinator();
}

QObject *RootView::codingViewModelObject() {
    return codingViewModel();
}

void RootView::startInitialBridgeRefresh() {
    if (!m_viewState->beginInitialBridgeRefresh())
        return;
    ++m_bridgeRefreshStarts;
    // Runs detached; the task keeps only a weak reference to the view model.
    runStartupTask(QPointer<DesktopCodingHarnessViewModel>(codingViewModel()),
                   std::uint64_t(m_pollInterval.count()), m_startupTaskRunning);
}

std::unique_ptr<DesktopCodingHarnessViewModel> RootView::makeDefaultViewModel() {
    const QString stateDirectory = LocalDesktopCodingBridgeHealthSource::defaultStateDirectory();
    const QString host = u"127.0.0.1"_s;
    constexpr int port = 8800;
    auto projects = DesktopCodingHarnessViewModel::sampleProjects();
    auto catalog = DesktopCodingHarnessViewModel::fallbackModelCatalog();
    auto healthSource = std::make_shared<LocalDesktopCodingBridgeHealthSource>(stateDirectory, host, port);
    auto pairingSource = std::make_shared<LocalDesktopCodingBridgeHealthSource>(stateDirectory, host, port);
    auto recencySource = std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(stateDirectory);
    auto client = std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>());
    return std::make_unique<DesktopCodingHarnessViewModel>(
        std::move(projects), std::move(catalog), std::move(healthSource), std::move(pairingSource),
        std::move(recencySource), std::move(client),
        DesktopCodingHarnessViewModel::defaultSessionListTimeoutNanoseconds);
}

} // namespace rirudez
