#include "DesktopBridgeActivityRecorder.h"

#include "DesktopBridgeActivityStore.h"
#include "DesktopCodingHarnessViewModel.h"

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

bool isBridgeFrameEvent(const DesktopCodingThread &thread, const DesktopCodingEvent &event) {
    return thread.bridgeSessionID && event.id.startsWith(*thread.bridgeSessionID + u'-');
}

} // namespace

DesktopBridgeActivityRecorder::DesktopBridgeActivityRecorder(DesktopBridgeActivityStore *store,
                                                             QObject *parent)
    : QObject(parent), m_store(store) {}

void DesktopBridgeActivityRecorder::attach(DesktopCodingHarnessViewModel *viewModel) {
    m_viewModel = viewModel;
    m_threads.clear();
    for (const DesktopCodingThread &thread : viewModel->threads()) {
        ThreadProgress progress;
        progress.seenEvents = thread.session.events.size();
        m_threads.append(progress);
    }
    connect(viewModel, &DesktopCodingHarnessViewModel::threadsChanged, this, [this] {
        if (m_viewModel)
            observe(m_viewModel->threads());
    });
}

void DesktopBridgeActivityRecorder::observe(const QList<DesktopCodingThread> &threads) {
    while (m_threads.size() < threads.size())
        m_threads.append(ThreadProgress{});
    for (qsizetype t = 0; t < threads.size(); ++t) {
        const DesktopCodingThread &thread = threads[t];
        ThreadProgress &progress = m_threads[t];
        const QList<DesktopCodingEvent> &events = thread.session.events;
        refreshPendingText(progress, events);
        if (progress.seenEvents >= events.size())
            continue;
        progress.projectID = thread.projectID;
        progress.agent = rawValue(thread.agent);
        progress.model = thread.modelID;
        for (qsizetype e = progress.seenEvents; e < events.size(); ++e) {
            // A new event ends the growth of the text before it.
            logPendingText(progress, events);
            observeEvent(progress, thread, events[e]);
            if (progress.pendingText && progress.pendingTextIndex < 0)
                progress.pendingTextIndex = e;
        }
        progress.seenEvents = events.size();
    }
    commit();
}

void DesktopBridgeActivityRecorder::observeEvent(ThreadProgress &progress, const DesktopCodingThread &thread,
                                                 const DesktopCodingEvent &event) {
    switch (event.kind) {
    case DesktopCodingEventKind::userMessage:
        progress.textInTurn = false;
        break;
    case DesktopCodingEventKind::status:
        if (isBridgeFrameEvent(thread, event) &&
            event.summary == u"Bridge turn "_s + rawValue(TurnState::working))
            record(progress, event.id, DesktopBridgeActivityKind::working, event.summary, event.createdAt);
        break;
    case DesktopCodingEventKind::toolUse:
        if (isBridgeFrameEvent(thread, event))
            record(progress, event.id, DesktopBridgeActivityKind::toolUse, event.summary, event.createdAt);
        break;
    case DesktopCodingEventKind::assistantText:
        if (!progress.textInTurn) {
            progress.textInTurn = true;
            progress.pendingText = event;
            progress.pendingTextIndex = -1; // set by the caller, which knows the event's place
        }
        break;
    case DesktopCodingEventKind::completed:
        progress.textInTurn = false;
        record(progress, event.id, DesktopBridgeActivityKind::completed, event.summary, event.createdAt);
        break;
    case DesktopCodingEventKind::failed: {
        progress.textInTurn = false;
        QString summary = event.summary;
        if (event.detail)
            summary += u": "_s + *event.detail;
        record(progress, event.id, DesktopBridgeActivityKind::failed, summary, event.createdAt);
        break;
    }
    default:
        break;
    }
}

void DesktopBridgeActivityRecorder::logPendingText(ThreadProgress &progress,
                                                   const QList<DesktopCodingEvent> &events) {
    if (!progress.pendingText)
        return;
    refreshPendingText(progress, events);
    const DesktopCodingEvent text = *std::exchange(progress.pendingText, std::nullopt);
    record(progress, text.id, DesktopBridgeActivityKind::text, text.summary, text.createdAt);
}

void DesktopBridgeActivityRecorder::refreshPendingText(ThreadProgress &progress,
                                                       const QList<DesktopCodingEvent> &events) {
    if (!progress.pendingText)
        return;
    // The text grows in place as chunks arrive: keep the latest copy. It is where it was seen (events are
    // only appended); otherwise it is one of the last events.
    const qsizetype seenAt = progress.pendingTextIndex;
    if (seenAt >= 0 && seenAt < events.size() && events[seenAt].id == progress.pendingText->id) {
        progress.pendingText->summary = events[seenAt].summary;
        return;
    }
    for (qsizetype i = events.size() - 1; i >= 0; --i) {
        if (events[i].id == progress.pendingText->id) {
            progress.pendingText->summary = events[i].summary;
            return;
        }
    }
}

void DesktopBridgeActivityRecorder::flush() {
    for (ThreadProgress &progress : m_threads)
        logPendingText(progress, {});
    commit();
}

void DesktopBridgeActivityRecorder::commit() {
    if (!m_recorded.isEmpty())
        m_store->append(std::exchange(m_recorded, {}));
}

void DesktopBridgeActivityRecorder::record(const ThreadProgress &progress, const QString &id,
                                           DesktopBridgeActivityKind kind, const QString &summary,
                                           const QDateTime &createdAt) {
    DesktopBridgeActivity activity;
    activity.id = id;
    activity.kind = kind;
    activity.summary = chatSnippet(summary, summaryLength);
    activity.projectID = DesktopBridgeActivity::cleanOptional(progress.projectID);
    activity.agent = DesktopBridgeActivity::cleanOptional(progress.agent);
    activity.model = DesktopBridgeActivity::cleanOptional(progress.model);
    activity.createdAt = createdAt.isValid() ? createdAt.toUTC() : QDateTime::currentDateTimeUtc();
    m_recorded.append(std::move(activity));
}

} // namespace rirudez
