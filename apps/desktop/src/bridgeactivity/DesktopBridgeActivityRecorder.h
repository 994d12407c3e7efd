#pragma once

// Feeds the bridge activity log from the conversation threads as their events arrive.
//
// Which events become activities (each keeps the event's id, so an event replayed by the bridge after a
// restart is not logged twice while its entry is still kept):
// - working:   the bridge's status "working" of a turn;
// - toolUse:   a tool the agent used, as the bridge reported it (the desktop's own "sending" lines are not
//              bridge activity and are left out);
// - text:      the first assistant text of a turn, logged once the next event of that thread arrives (or on
//              flush()), so its summary is the text as it stood then rather than its first chunk;
// - completed: the result of a turn;
// - failed:    every failure shown in a thread, the bridge's or the desktop's own dispatch failures.
// Summaries are cut to 160 characters. Project, agent and model come from the thread.

#include "DesktopBridgeActivity.h"
#include "DesktopBridgeActivityKind.h"
#include "DesktopCodingHarnessModels.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <optional>

namespace rirudez {

class DesktopBridgeActivityStore;
class DesktopCodingHarnessViewModel;

class DesktopBridgeActivityRecorder : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype summaryLength = 160;

    explicit DesktopBridgeActivityRecorder(DesktopBridgeActivityStore *store, QObject *parent = nullptr);

    // Follows the view model's threads from now on; events already there are taken as seen.
    void attach(DesktopCodingHarnessViewModel *viewModel);
    // Looks at the events of every thread that arrived since the last call. Threads are never removed, so
    // a thread is known by its position.
    void observe(const QList<DesktopCodingThread> &threads);
    // Logs every pending first text now, as it stood at the last observe().
    void flush();

private:
    struct ThreadProgress {
        qsizetype seenEvents = 0;
        bool textInTurn = false;
        std::optional<DesktopCodingEvent> pendingText; // the turn's first text, not yet logged
        qsizetype pendingTextIndex = -1;               // where it stood in the thread's events
        QString projectID;
        QString agent;
        std::optional<QString> model;
    };

    void observeEvent(ThreadProgress &progress, const DesktopCodingThread &thread,
                      const DesktopCodingEvent &event);
    static void refreshPendingText(ThreadProgress &progress, const QList<DesktopCodingEvent> &events);
    void logPendingText(ThreadProgress &progress, const QList<DesktopCodingEvent> &events);
    void record(const ThreadProgress &progress, const QString &id, DesktopBridgeActivityKind kind,
                const QString &summary, const QDateTime &createdAt);
    // Hands what was recorded since the last call to the store, which saves it once.
    void commit();

    DesktopBridgeActivityStore *m_store;
    QPointer<DesktopCodingHarnessViewModel> m_viewModel;
    QList<ThreadProgress> m_threads; // parallel to the observed thread list
    QList<DesktopBridgeActivity> m_recorded;
};

} // namespace rirudez
