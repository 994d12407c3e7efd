#include "DesktopShellCoordinator.h"

#include "LocalHealthSource.h"
#include "LocalModelsViewModel.h"

#include <QLocale>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace CHR = ConversationHandwritingReplay;

DesktopShellCoordinator::DesktopShellCoordinator(DesktopShellSelection *selection,
                                                 std::shared_ptr<DesktopLibraryReadModel> libraryReadModel,
                                                 std::shared_ptr<LocalHealthSource> localHealthSource,
                                                 DesktopBridgeActivityStore *bridgeActivityLog,
                                                 HistorySource historySource, QObject *parent)
    : QObject(parent), m_selection(selection), m_activity(bridgeActivityLog),
      m_historySource(std::move(historySource)), m_timelineModel(new DesktopTimelineListModel(this)),
      m_canvas(new DesktopCanvasReplayDocument(this)) {
    QPointer<DesktopShellCoordinator> self(this);
    m_sidebar = new DesktopLibrarySidebarViewModel(
        std::move(libraryReadModel),
        [self](DesktopLibraryEntry entry) -> QCoro::Task<void> {
            if (self)
                self->selectLibraryItem(entry.id);
            co_return;
        },
        this);
    if (localHealthSource)
        m_localModels = new LocalModelsViewModel(LocalProviderOption::claude, QString(), std::nullopt,
                                                 std::move(localHealthSource), std::nullopt, std::nullopt);
    if (m_localModels)
        m_localModels->setParent(this);
    m_activity->load();
    connect(m_activity, &DesktopBridgeActivityStore::logChanged, this,
            &DesktopShellCoordinator::activityChanged);
    m_canvas->layOut(replayInput(m_history));
    if (m_selection->librarySelection()) {
        m_sidebar->showSelection(m_selection->libraryID());
        refreshConversation();
    }
}

DesktopShellCoordinator::~DesktopShellCoordinator() = default;

QObject *DesktopShellCoordinator::localModelsObject() const {
    return m_localModels;
}

void DesktopShellCoordinator::selectLibraryItem(const QString &id) {
    if (id.trimmed().isEmpty())
        return;
    const bool changed = m_selection->libraryID() != id;
    m_selection->setLibrarySelection(DesktopShellLibrarySelection{id});
    m_sidebar->showSelection(id);
    if (changed) {
        m_selection->setTimelineSelection(std::nullopt);
        if (m_onLibrarySelection)
            m_onLibrarySelection(id);
        refreshConversation();
    }
}

void DesktopShellCoordinator::clearLibrarySelection() {
    m_selection->setLibrarySelection(std::nullopt);
    m_selection->setTimelineSelection(std::nullopt);
    m_sidebar->showSelection(std::nullopt);
    refreshConversation();
}

void DesktopShellCoordinator::selectTimelineItem(const QString &id) {
    const auto &turns = m_history.turns();
    const bool known = std::any_of(turns.cbegin(), turns.cend(),
                                   [&](const DesktopTimelineTurn &turn) { return turn.id == id; });
    if (known)
        m_selection->setTimelineSelection(DesktopShellTimelineSelection{id});
}

void DesktopShellCoordinator::clearTimelineSelection() {
    m_selection->setTimelineSelection(std::nullopt);
}

void DesktopShellCoordinator::openUtility(DesktopShellUtilitySlot slot) {
    m_selection->setActiveUtilitySlot(slot);
}

void DesktopShellCoordinator::dismissUtility() {
    m_selection->setActiveUtilitySlot(std::nullopt);
}

void DesktopShellCoordinator::toggleSidebar() {
    m_selection->setSidebarVisible(!m_selection->isSidebarVisible());
}

void DesktopShellCoordinator::refreshConversation() {
    DesktopTimelineHistory history;
    if (m_selection->librarySelection() && m_historySource)
        history = m_historySource(m_selection->libraryID());
    if (history == m_history && m_timelineModel->turnCount() == history.turnCount())
        return;
    m_history = std::move(history);
    m_timelineModel->setHistory(m_history);
    m_canvas->layOut(replayInput(m_history));
    // A selected turn that is gone is no longer selected.
    if (m_selection->timelineSelection()) {
        const QString selected = m_selection->timelineID();
        const auto &turns = m_history.turns();
        if (std::none_of(turns.cbegin(), turns.cend(),
                         [&](const DesktopTimelineTurn &t) { return t.id == selected; }))
            m_selection->setTimelineSelection(std::nullopt);
    }
    Q_EMIT conversationChanged();
}

void DesktopShellCoordinator::setConversationTitle(const QString &title) {
    if (title == m_title)
        return;
    m_title = title;
    Q_EMIT conversationChanged();
}

CHR::MessageRole DesktopShellCoordinator::role(DesktopTimelineRole from) {
    return from == DesktopTimelineRole::user ? CHR::MessageRole::user : CHR::MessageRole::assistant;
}

CHR::ReplayInput DesktopShellCoordinator::replayInput(const DesktopTimelineHistory &from) {
    CHR::ReplayInput input;
    input.pageSize = {pageWidth, pageHeight};
    input.maxPageCount = maxPageCount;
    input.startGlobalY = 0;
    input.messages.reserve(std::size_t(from.turnCount()));
    for (const DesktopTimelineTurn &turn : from.turns()) {
        if (!turn.hasRenderableContent())
            continue;
        input.messages.push_back(CHR::InputMessage{turn.id, role(turn.role), turn.content, turn.pageIndex,
                                                   std::nullopt, std::nullopt, std::nullopt, false,
                                                   std::nullopt});
    }
    return input;
}

QVariantList DesktopShellCoordinator::recentActivity() const {
    QVariantList rows;
    for (const DesktopBridgeActivity &entry : m_activity->log().recentEntries(activityRows))
        rows.append(
            QVariantMap{{u"id"_s, entry.id},
                        {u"title"_s, entry.displayTitle()},
                        {u"context"_s, entry.contextLabel()},
                        {u"time"_s, QLocale().toString(entry.createdAt.toLocalTime(), QLocale::ShortFormat)},
                        {u"symbol"_s, systemImage(entry.kind)},
                        {u"kind"_s, rawValue(entry.kind)}});
    return rows;
}

QVariantMap DesktopShellCoordinator::shellSlots() {
    QVariantMap result;
    for (const auto &[name, slot] :
         {std::pair{u"library"_s, DesktopShellSlot::library},
          std::pair{u"timeline"_s, DesktopShellSlot::timeline},
          std::pair{u"canvas"_s, DesktopShellSlot::canvas}, std::pair{u"detail"_s, DesktopShellSlot::detail},
          std::pair{u"utility"_s, DesktopShellSlot::utility}})
        result.insert(name, QVariantMap{{u"title"_s, displayTitle(slot)},
                                        {u"symbol"_s, systemImage(slot)},
                                        {u"ownerLane"_s, ownerLane(slot)}});
    return result;
}

} // namespace rirudez
