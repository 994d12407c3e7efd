#include "RootView.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"

#include "rirudez/bridgekit/BridgeClient.h"

using namespace Qt::StringLiterals;

namespace rirudez {

RootView::RootView(QObject *parent) : RootView(&RootView::makeDefaultViewModel, parent) {}

RootView::RootView(ViewModelFactory factory, QObject *parent)
    : QObject(parent), m_factory(std::move(factory)), m_viewState(new DesktopCodingHarnessViewState(this)) {}

RootView::~RootView() {
    if (m_codingViewModel)
        m_codingViewModel->stopBridgeSessionDiscovery();
}

DesktopCodingHarnessViewModel *RootView::codingViewModel() {
    if (!m_codingViewModel) {
        m_codingViewModel = m_factory();
        m_viewState->setViewModel(m_codingViewModel.get());
    }
    return m_codingViewModel.get();
}

QObject *RootView::codingViewModelObject() {
    return codingViewModel();
}

void RootView::startInitialBridgeRefresh() {
    if (!m_viewState->beginInitialBridgeRefresh())
        return;
    ++m_bridgeRefreshStarts;
    codingViewModel()->startBridgeSessionDiscovery();
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
