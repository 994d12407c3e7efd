#pragma once

// Owns the shell's state and sub-models: the selection, the library sidebar, the local models screen, the
// bridge activity log, and what the timeline and the canvas show for the selected library entry.
//
// Rules of the shell:
// - selectLibraryItem(id:) selects a conversation (blank ids are ignored), clears the timeline selection
//   when the conversation changes, marks it in the sidebar, tells `onLibrarySelection` (the desktop then
//   selects that thread), and rebuilds the timeline and the canvas. clearLibrarySelection() clears both
//   selections and empties the timeline and canvas.
// - selectTimelineItem(id:) selects a turn only when the timeline has it; otherwise nothing changes.
// - openUtility(_:) shows the sheet (opening it again changes nothing); dismissUtility() closes it;
//   toggleSidebar() shows or hides the library column.
// - replayInput(from:): every turn with renderable content, in timeline order, becomes a message with the
//   turn's id, role (user -> user, assistant -> assistant) and text, hinted to the turn's page when it has
//   one; no anchors, not a saved line. Pages are 820 × 1060 (a letter-shaped sheet; 820 is the width the
//   page margins are tuned for), at most 500 of them, writing from the top of page 0.
// - The activity column shows the newest 100 entries.

#include "DesktopShellSelection.h"

#include "DesktopBridgeActivityStore.h"
#include "DesktopCanvasReplayDocument.h"
#include "DesktopLibrarySidebarViewModel.h"
#include "DesktopTimelineHistory.h"
#include "DesktopTimelineListModel.h"

#include "rirudez/canvasreplay/ReplayRecords.h"

#include <QObject>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace rirudez {

class LocalHealthSource;
class LocalModelsViewModel;

class DesktopShellCoordinator : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject *selection READ selectionObject CONSTANT)
    Q_PROPERTY(QObject *librarySidebarViewModel READ librarySidebarObject CONSTANT)
    Q_PROPERTY(QObject *localModelsViewModel READ localModelsObject CONSTANT)
    Q_PROPERTY(QObject *timelineModel READ timelineModelObject CONSTANT)
    Q_PROPERTY(QObject *canvasDocument READ canvasDocumentObject CONSTANT)
    Q_PROPERTY(QObject *activityStore READ activityStoreObject CONSTANT)
    // Each: {id, title, context, time, symbol, kind}; newest first.
    Q_PROPERTY(QVariantList recentActivity READ recentActivity NOTIFY activityChanged)
    Q_PROPERTY(QString conversationTitle READ conversationTitle NOTIFY conversationChanged)
    // The columns and the sheet by name ("library", "timeline", "canvas", "detail", "utility"), each
    // {title, symbol, ownerLane}.
    Q_PROPERTY(QVariantMap shellSlots READ shellSlots CONSTANT)

public:
    static constexpr double pageWidth = 820;
    static constexpr double pageHeight = 1060;
    static constexpr std::int64_t maxPageCount = 500;
    static constexpr qsizetype activityRows = 100;

    using HistorySource = std::function<DesktopTimelineHistory(const QString &libraryID)>;

    DesktopShellCoordinator(DesktopShellSelection *selection,
                            std::shared_ptr<DesktopLibraryReadModel> libraryReadModel,
                            std::shared_ptr<LocalHealthSource> localHealthSource,
                            DesktopBridgeActivityStore *bridgeActivityLog, HistorySource historySource = {},
                            QObject *parent = nullptr);
    ~DesktopShellCoordinator() override;

    DesktopShellSelection *selection() const { return m_selection; }
    DesktopLibrarySidebarViewModel *librarySidebarViewModel() const { return m_sidebar; }
    LocalModelsViewModel *localModelsViewModel() const { return m_localModels; }
    const DesktopBridgeActivityLog &bridgeActivityLog() const { return m_activity->log(); }

    Q_INVOKABLE void selectLibraryItem(const QString &id);
    Q_INVOKABLE void clearLibrarySelection();
    Q_INVOKABLE void selectTimelineItem(const QString &id);
    Q_INVOKABLE void clearTimelineSelection();
    void openUtility(DesktopShellUtilitySlot slot);
    Q_INVOKABLE void openLocalModels() { openUtility(DesktopShellUtilitySlot::localModels); }
    Q_INVOKABLE void dismissUtility();
    Q_INVOKABLE void toggleSidebar();

    const DesktopTimelineHistory &timelineHistory() const { return m_history; }
    // What the canvas shows so far (the rest of a long conversation is laid out on the event loop).
    const DesktopCanvasReplayResult &canvasReplayResult() const { return m_canvas->result(); }
    DesktopCanvasReplayDocument *canvasDocument() const { return m_canvas; }
    static ConversationHandwritingReplay::ReplayInput replayInput(const DesktopTimelineHistory &from);
    static ConversationHandwritingReplay::MessageRole role(DesktopTimelineRole from);

    // Reads the selected conversation again (its turns changed).
    Q_INVOKABLE void refreshConversation();
    // Called with the id whenever the user selects a library entry in the shell.
    void setOnLibrarySelection(std::function<void(const QString &)> callback) {
        m_onLibrarySelection = std::move(callback);
    }
    void setConversationTitle(const QString &title);

Q_SIGNALS:
    void activityChanged();
    void conversationChanged();

private:
    QObject *selectionObject() const { return m_selection; }
    QObject *librarySidebarObject() const { return m_sidebar; }
    QObject *localModelsObject() const;
    QObject *timelineModelObject() const { return m_timelineModel; }
    QObject *canvasDocumentObject() const { return m_canvas; }
    QObject *activityStoreObject() const { return m_activity; }
    QVariantList recentActivity() const;
    QString conversationTitle() const { return m_title; }
    static QVariantMap shellSlots();

    DesktopShellSelection *m_selection;
    DesktopLibrarySidebarViewModel *m_sidebar;
    LocalModelsViewModel *m_localModels = nullptr;
    DesktopBridgeActivityStore *m_activity;
    HistorySource m_historySource;
    std::function<void(const QString &)> m_onLibrarySelection;
    DesktopTimelineHistory m_history;
    DesktopTimelineListModel *m_timelineModel;
    DesktopCanvasReplayDocument *m_canvas;
    QString m_title;
};

} // namespace rirudez
