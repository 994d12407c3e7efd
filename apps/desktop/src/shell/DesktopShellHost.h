#pragma once

// The shell beside the conversation screen: records the bridge activity from the start, and builds the
// shell's coordinator the first time the shell window opens. The shell's library lists the desktop's
// threads (name = title, updated = last event, template title = project name, all of kind legacy, the
// selected thread current); its timeline and canvas show the selected thread. Selecting a conversation in
// the shell selects that thread in the conversation screen, and the shell follows the screen's selection.
// Thread changes reach the shell at most every 150 ms.

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace rirudez {

class DesktopBridgeActivityRecorder;
class DesktopBridgeActivityStore;
class DesktopCodingHarnessViewModel;
class DesktopShellCoordinator;
class DesktopShellSelection;

class DesktopShellHost : public QObject {
    Q_OBJECT

public:
    // An empty path keeps the activity log in memory.
    DesktopShellHost(DesktopCodingHarnessViewModel *viewModel, const QString &activityLogPath,
                     QObject *parent = nullptr);
    ~DesktopShellHost() override;

    Q_INVOKABLE QObject *coordinator();
    DesktopBridgeActivityStore *activityStore() const { return m_store; }

private:
    void followSelectedThread();

    QPointer<DesktopCodingHarnessViewModel> m_viewModel;
    DesktopBridgeActivityStore *m_store;
    DesktopBridgeActivityRecorder *m_recorder;
    DesktopShellSelection *m_selection = nullptr;
    DesktopShellCoordinator *m_coordinator = nullptr;
    QTimer m_refresh;
};

} // namespace rirudez
