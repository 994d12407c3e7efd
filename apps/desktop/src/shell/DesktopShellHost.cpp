#include "DesktopShellHost.h"

#include "DesktopBridgeActivityRecorder.h"
#include "DesktopBridgeActivityStore.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopShellCoordinator.h"
#include "LocalHealthSource.h"

#include "DesktopTimelineThreadAdapter.h"
#include <QNetworkAccessManager>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

class ThreadLibraryReadModel : public DesktopLibraryReadModel {
public:
    explicit ThreadLibraryReadModel(QPointer<DesktopCodingHarnessViewModel> viewModel)
        : m_viewModel(std::move(viewModel)) {}

    QCoro::Task<DesktopLibraryIndex> loadLibraryIndex() override {
        DesktopLibraryIndex index;
        if (!m_viewModel)
            co_return index;
        QHash<QString, QString> projectNames;
        for (const DesktopCodingProject &project : m_viewModel->projects())
            projectNames.insert(project.id, project.name);
        for (const DesktopCodingThread &thread : m_viewModel->threads()) {
            const QDateTime updated = thread.session.events.isEmpty()
                                          ? thread.updatedAt
                                          : thread.session.events.constLast().createdAt;
            index.entries.append({thread.id, thread.title, updated, DesktopLibraryBackendKind::legacy,
                                  projectNames.contains(thread.projectID)
                                      ? std::optional<QString>(projectNames.value(thread.projectID))
                                      : std::nullopt});
        }
        if (const DesktopCodingThread *selected = m_viewModel->selectedThread())
            index.currentEntryID = selected->id;
        co_return index;
    }

private:
    QPointer<DesktopCodingHarnessViewModel> m_viewModel;
};

} // namespace

DesktopShellHost::DesktopShellHost(DesktopCodingHarnessViewModel *viewModel, const QString &activityLogPath,
                                   QObject *parent)
    : QObject(parent), m_viewModel(viewModel),
      m_store(new DesktopBridgeActivityStore(activityLogPath, 500, this)),
      m_recorder(new DesktopBridgeActivityRecorder(m_store, this)) {
    m_recorder->attach(viewModel);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(150);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        if (!m_coordinator)
            return;
        followSelectedThread();
        m_coordinator->refreshConversation();
        m_coordinator->librarySidebarViewModel()->requestReload();
    });
    connect(viewModel, &DesktopCodingHarnessViewModel::threadsChanged, this, [this] {
        if (m_coordinator && !m_refresh.isActive())
            m_refresh.start();
    });
    connect(viewModel, &DesktopCodingHarnessViewModel::derivedValuesChanged, this, [this] {
        if (m_coordinator && !m_refresh.isActive())
            m_refresh.start();
    });
}

DesktopShellHost::~DesktopShellHost() = default;

QObject *DesktopShellHost::coordinator() {
    if (m_coordinator || !m_viewModel)
        return m_coordinator;
    QPointer<DesktopCodingHarnessViewModel> viewModel = m_viewModel;
    m_selection = new DesktopShellSelection(std::nullopt, std::nullopt, std::nullopt, true, this);
    m_coordinator = new DesktopShellCoordinator(
        m_selection, std::make_shared<ThreadLibraryReadModel>(viewModel),
        std::make_shared<ControlPlaneLocalHealthSource>(
            LocalHealthClient(std::make_shared<QNetworkAccessManager>())),
        m_store,
        [viewModel](const QString &id) {
            if (viewModel)
                for (const DesktopCodingThread &thread : viewModel->threads())
                    if (thread.id == id)
                        return DesktopTimelineThreadAdapter::history(thread);
            return DesktopTimelineHistory();
        },
        this);
    m_coordinator->setOnLibrarySelection([viewModel](const QString &id) {
        if (viewModel && (!viewModel->selectedThread() || viewModel->selectedThread()->id != id))
            viewModel->selectThread(id);
    });
    followSelectedThread();
    m_coordinator->librarySidebarViewModel()->requestReload();
    return m_coordinator;
}

void DesktopShellHost::followSelectedThread() {
    if (!m_viewModel || !m_coordinator)
        return;
    if (const DesktopCodingThread *selected = m_viewModel->selectedThread()) {
        m_coordinator->setConversationTitle(selected->title);
        m_coordinator->selectLibraryItem(selected->id);
    }
}

} // namespace rirudez
