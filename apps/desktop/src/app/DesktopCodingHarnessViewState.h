#pragma once

// The conversation screen's own state and rules: which rails are collapsed, which composer picker is
// open, which user-turn cards show their transcript, whether the start-up refresh already ran, and the
// pure rules that turn view-model values into what the screen shows (column widths, the subtitle, the
// activity line, row symbols and tints, the request preview). QML binds these and decides nothing.

#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include "DesktopCodingEventKind.h"

namespace rirudez {

class DesktopCodingHarnessViewModel;

// How one kind of conversation event is drawn: its symbol, row name and tint (from HarnessPalette), whether
// its text is Markdown (the agent's answers) and whether the row sits in a framed panel (the user's
// messages).
struct HarnessEventStyle {
    QString symbol;
    QString name;
    QColor tint;
    bool markdown = false;
    bool framed = false;
};

class DesktopCodingHarnessViewState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool isProjectRailCollapsed READ isProjectRailCollapsed WRITE setProjectRailCollapsed NOTIFY
                   projectRailCollapsedChanged)
    Q_PROPERTY(bool isInspectorCollapsed READ isInspectorCollapsed WRITE setInspectorCollapsed NOTIFY
                   inspectorCollapsedChanged)
    Q_PROPERTY(
        bool didInitialBridgeRefresh READ didInitialBridgeRefresh NOTIFY didInitialBridgeRefreshChanged)
    // The composer's open picker, if any.
    Q_PROPERTY(ComposerPicker composerPicker READ composerPicker NOTIFY composerPickerChanged)
    Q_PROPERTY(QStringList transcriptEventIDs READ transcriptEventIDList NOTIFY transcriptEventIDsChanged)
    // Values of the view model the screen reacts to: the selected thread, the event id of the last chat row
    // (the stream scrolls when it changes), the latest activity summary, and a counter that moves whenever
    // the pending approvals change.
    Q_PROPERTY(QString selectedThreadID READ selectedThreadID NOTIFY selectedThreadIDChanged)
    Q_PROPERTY(QString lastEventID READ lastEventID NOTIFY lastEventIDChanged)
    Q_PROPERTY(QString latestActivitySummary READ latestActivitySummary NOTIFY latestActivitySummaryChanged)
    Q_PROPERTY(int approvalRevision READ approvalRevision NOTIFY approvalRevisionChanged)
    // Row counts of the visible session's chat and activity.
    Q_PROPERTY(int chatCount READ chatCount NOTIFY chatCountChanged)
    Q_PROPERTY(int activityCount READ activityCount NOTIFY activityCountChanged)

public:
    // The pickers the composer opens above itself; at most one is open.
    enum class ComposerPicker { none, model, thinking };
    Q_ENUM(ComposerPicker)

    explicit DesktopCodingHarnessViewState(QObject *parent = nullptr);

    bool isProjectRailCollapsed() const { return m_projectRailCollapsed; }
    void setProjectRailCollapsed(bool collapsed);
    bool isInspectorCollapsed() const { return m_inspectorCollapsed; }
    void setInspectorCollapsed(bool collapsed);
    bool didInitialBridgeRefresh() const { return m_didInitialBridgeRefresh; }
    ComposerPicker composerPicker() const { return m_composerPicker; }
    QStringList transcriptEventIDList() const;

    // The view model whose values the properties above follow (the root view sets it once).
    void setViewModel(DesktopCodingHarnessViewModel *viewModel);
    QString selectedThreadID() const { return m_selectedThreadID; }
    QString lastEventID() const { return m_lastEventID; }
    QString latestActivitySummary() const { return m_latestActivitySummary; }
    int approvalRevision() const { return m_approvalRevision; }
    int chatCount() const { return m_chatCount; }
    int activityCount() const { return m_activityCount; }

    Q_INVOKABLE void toggleProjectRail() { setProjectRailCollapsed(!m_projectRailCollapsed); }
    Q_INVOKABLE void toggleInspector() { setInspectorCollapsed(!m_inspectorCollapsed); }
    // Opens the picker, or closes it when it is the one already open (another open one is replaced).
    Q_INVOKABLE void toggleComposerPicker(DesktopCodingHarnessViewState::ComposerPicker picker);
    Q_INVOKABLE void closeComposerPicker();
    Q_INVOKABLE bool showsTranscript(const QString &eventID) const {
        return m_transcriptEventIDs.contains(eventID);
    }
    Q_INVOKABLE void toggleTranscript(const QString &eventID);
    // Marks the start-up refresh as started; true only the first time, so polling starts once.
    bool beginInitialBridgeRefresh();

    // The id of the pending approval shown on an event's row, "" for none (bind it to approvalRevision too).
    Q_INVOKABLE QString pendingApprovalID(const QString &eventID) const;

    // --- pure rules of the screen ---------------------------------------------------------------
    static constexpr double collapsedRailWidth = 52;
    Q_INVOKABLE double projectRailWidth(double screenWidth) const;
    Q_INVOKABLE double inspectorWidth(double screenWidth) const;

    // [project id, model id, permission wire value] without the absent ones, joined by " / ".
    Q_INVOKABLE QString sessionSubtitle(const QString &projectID, const QString &modelID,
                                        const QString &permissionWireValue) const;
    // "<n> bridge event" with "s" unless n is 1.
    Q_INVOKABLE QString activityCountLine(int count) const;
    // The activity card's second line: the latest activity summary, or "Bridge is ready.".
    Q_INVOKABLE QString activitySummaryLine(const QString &latestSummary) const;
    // "Watch", "Ask", "Propose", "Edit" for the access wire values.
    Q_INVOKABLE QString accessDisplayName(const QString &access) const;
    // "Codex" / "Claude" and their chip symbols.
    Q_INVOKABLE QString agentDisplayName(const QString &agent) const;
    Q_INVOKABLE QString agentSymbol(const QString &agent) const;
    // "Auto", "Low", "Medium", "High", "Extra High".
    Q_INVOKABLE QString thinkingLabel(const QString &level) const;
    // Row style of an event kind; `eventStyleMap` is the QML form ({symbol, name, tint, markdown, framed})
    // for an EventKind value.
    static HarnessEventStyle eventStyle(DesktopCodingEventKind kind);
    Q_INVOKABLE QVariantMap eventStyleMap(int kind) const;
    // The composer's character count: "0" for an empty prompt, else its number of characters.
    Q_INVOKABLE QString characterCount(const QString &prompt) const;
    // The REQUEST preview as a list of {label, value}.
    Q_INVOKABLE QVariantList requestPreview(const QString &projectID, const QString &agent,
                                            const QString &modelID, const QString &runtimeMode,
                                            const QString &thinking, bool allowWeb) const;
    // The short time of an event row (the time of day without the date, in the user's locale).
    Q_INVOKABLE QString shortTime(const QDateTime &createdAt) const;

Q_SIGNALS:
    void projectRailCollapsedChanged();
    void inspectorCollapsedChanged();
    void didInitialBridgeRefreshChanged();
    void composerPickerChanged();
    void transcriptEventIDsChanged();
    void selectedThreadIDChanged();
    void lastEventIDChanged();
    void latestActivitySummaryChanged();
    void approvalRevisionChanged();
    void chatCountChanged();
    void activityCountChanged();

private:
    bool m_projectRailCollapsed = false;
    bool m_inspectorCollapsed = false;
    bool m_didInitialBridgeRefresh = false;
    ComposerPicker m_composerPicker = ComposerPicker::none;
    QSet<QString> m_transcriptEventIDs;

    // Schedules one re-read of the view model for the next event-loop turn: the view model announces changes
    // while it is still moving between states, so the values are read once it has settled.
    void followViewModel();
    void readViewModel();
    bool m_readScheduled = false;
    QPointer<DesktopCodingHarnessViewModel> m_viewModel;
    QString m_selectedThreadID;
    QString m_lastEventID;
    QString m_latestActivitySummary;
    int m_approvalRevision = 0;
    int m_chatCount = 0;
    int m_activityCount = 0;
    int m_activitySummaryRole = -1;
    int m_chatEventIDRole = -1;
};

} // namespace rirudez
