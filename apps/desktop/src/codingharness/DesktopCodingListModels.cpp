// The incremental chat/activity split and the list models of the coding screen.
#include "DesktopCodingListModels.h"

#include "DesktopCodingHarnessViewModel.h"

#include <QVariantMap>

#include <limits>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

bool isBlank(const QString &text) {
    for (const QChar c : text)
        if (!c.isSpace())
            return false;
    return true;
}

QVariantList imagesForView(const QList<DesktopCodingTurnImage> &images) {
    QVariantList list;
    list.reserve(images.size());
    for (const DesktopCodingTurnImage &image : images)
        list.append(
            QVariantMap{{u"id"_s, image.id}, {u"kind"_s, rawValue(image.kind)}, {u"b64PNG"_s, image.b64PNG}});
    return list;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// DesktopCodingConversationFold

namespace {

using Rows = DesktopCodingConversationFold::Rows;

std::optional<Rows> spanning(const std::optional<Rows> &a, const std::optional<Rows> &b) {
    if (!a)
        return b;
    if (!b)
        return a;
    return Rows{std::min(a->first, b->first), std::max(a->last, b->last)};
}

} // namespace

void DesktopCodingConversationFold::Change::merge(const Change &later) {
    if (reset || later.reset) {
        *this = Change{};
        reset = true;
        return;
    }
    chatRowsInserted = spanning(chatRowsInserted, later.chatRowsInserted);
    activityRowsInserted = spanning(activityRowsInserted, later.activityRowsInserted);
    chatRowsChanged = spanning(chatRowsChanged, later.chatRowsChanged);
    chatRowTimesChanged = chatRowTimesChanged || later.chatRowTimesChanged;
    // A changed row that was inserted by the same run is announced by its insertion.
    if (chatRowsChanged && chatRowsInserted) {
        chatRowsChanged->last = std::min(chatRowsChanged->last, chatRowsInserted->first - 1);
        if (chatRowsChanged->last < chatRowsChanged->first)
            chatRowsChanged.reset();
    }
    if (!chatRowsChanged)
        chatRowTimesChanged = false;
}

void DesktopCodingConversationFold::rebuild(const QList<DesktopCodingEvent> &events) {
    m_chat.clear();
    m_activity.clear();
    m_chatRowOfEvent.clear();
    m_afterAssistantText = false;
    m_turnCount = 0;
    Change ignored;
    for (qsizetype i = 0; i < events.size(); ++i)
        take(events, i, ignored);
}

DesktopCodingConversationFold::Change
DesktopCodingConversationFold::appended(const QList<DesktopCodingEvent> &events) {
    Change change;
    if (events.size() != m_chatRowOfEvent.size() + 1) {
        // Out of step with the log (should not happen): start over from the whole log.
        rebuild(events);
        change.reset = true;
        return change;
    }
    take(events, events.size() - 1, change);
    return change;
}

void DesktopCodingConversationFold::take(const QList<DesktopCodingEvent> &events, qsizetype index,
                                         Change &change) {
    const DesktopCodingEvent &event = events[index];
    m_chatRowOfEvent.append(-1);
    const auto addChatRow = [&] {
        m_chat.append(ChatRow{index, index, std::nullopt});
        m_chatRowOfEvent[index] = m_chat.size() - 1;
        change.chatRowsInserted = Rows{m_chat.size() - 1, m_chat.size() - 1};
    };
    switch (event.kind) {
    case DesktopCodingEventKind::userMessage:
        ++m_turnCount;
        addChatRow();
        m_afterAssistantText = false;
        break;
    case DesktopCodingEventKind::status:
    case DesktopCodingEventKind::toolUse:
    case DesktopCodingEventKind::command:
    case DesktopCodingEventKind::diff:
        m_activity.append(index);
        change.activityRowsInserted = Rows{m_activity.size() - 1, m_activity.size() - 1};
        break;
    case DesktopCodingEventKind::approval:
    case DesktopCodingEventKind::createdFile:
    case DesktopCodingEventKind::failed:
        addChatRow();
        break;
    case DesktopCodingEventKind::assistantText:
        if (!m_chat.isEmpty() && events[m_chat.last().first].kind == DesktopCodingEventKind::assistantText) {
            ChatRow &row = m_chat.last();
            if (!row.mergedSummary)
                row.mergedSummary = events[row.first].summary;
            row.mergedSummary->append(event.summary);
            row.last = index;
            m_chatRowOfEvent[index] = m_chat.size() - 1;
            change.chatRowsChanged = Rows{m_chat.size() - 1, m_chat.size() - 1};
            change.chatRowTimesChanged = true;
        } else if (!isBlank(event.summary)) {
            addChatRow();
        }
        m_afterAssistantText = true;
        break;
    case DesktopCodingEventKind::completed:
        if (m_afterAssistantText) {
            m_activity.append(index);
            change.activityRowsInserted = Rows{m_activity.size() - 1, m_activity.size() - 1};
            m_afterAssistantText = false;
        } else {
            addChatRow();
        }
        break;
    }
}

DesktopCodingConversationFold::Change
DesktopCodingConversationFold::assistantTextExtended(const QList<DesktopCodingEvent> &events,
                                                     qsizetype eventIndex, const QString &chunk) {
    Change change;
    if (chunk.isEmpty())
        return change;
    const qsizetype row = eventIndex < m_chatRowOfEvent.size() ? m_chatRowOfEvent[eventIndex] : -1;
    if (row >= 0 && m_chat[row].last == eventIndex && events.size() == m_chatRowOfEvent.size()) {
        ChatRow &chatRow = m_chat[row];
        if (chatRow.mergedSummary)
            chatRow.mergedSummary->append(chunk);
        change.chatRowsChanged = Rows{row, row};
        return change;
    }
    // The text grew somewhere a merged row does not end, or a blank event became visible: rebuild.
    rebuild(events);
    change.reset = true;
    return change;
}

DesktopCodingEvent DesktopCodingConversationFold::chatEvent(const QList<DesktopCodingEvent> &events,
                                                            qsizetype row) const {
    const ChatRow &chatRow = m_chat[row];
    const DesktopCodingEvent &first = events[chatRow.first];
    if (!chatRow.mergedSummary)
        return first;
    return DesktopCodingEvent(first.id, DesktopCodingEventKind::assistantText, *chatRow.mergedSummary,
                              first.detail, {}, events[chatRow.last].createdAt);
}

QString DesktopCodingConversationFold::chatSummary(const QList<DesktopCodingEvent> &events,
                                                   qsizetype row) const {
    const ChatRow &chatRow = m_chat[row];
    if (!chatRow.mergedSummary)
        return events[chatRow.first].summary;
    return chatRow.mergedSummary->isEmpty() ? displayName(DesktopCodingEventKind::assistantText)
                                            : *chatRow.mergedSummary;
}

const DesktopCodingEvent &
DesktopCodingConversationFold::activityEvent(const QList<DesktopCodingEvent> &events, qsizetype row) const {
    return events[m_activity[row]];
}

QString DesktopCodingConversationFold::subtitle(const QList<DesktopCodingEvent> &events,
                                                const QString &withoutChat) const {
    if (m_chat.isEmpty())
        return withoutChat;
    return QString::number(m_turnCount) + (m_turnCount == 1 ? u" turn"_s : u" turns"_s) + u" · "_s +
           leadingChatSnippet(chatSummary(events, m_chat.size() - 1), 52);
}

QString leadingChatSnippet(const QString &text, qsizetype maxLength) {
    // The first maxLength characters of the collapsed text only depend on a prefix whose collapsed form is
    // at least two characters longer (the cut may split the last character). Grow the prefix until it is.
    qsizetype length = 4 * (maxLength + 2) + 16;
    while (length < text.size()) {
        const QString prefix = text.left(length);
        const QString collapsed = chatSnippet(prefix, std::numeric_limits<qsizetype>::max());
        if (characterCount(collapsed) >= maxLength + 2)
            return chatSnippet(prefix, maxLength);
        length *= 2;
    }
    return chatSnippet(text, maxLength);
}

// ---------------------------------------------------------------------------------------------
// DesktopCodingThreadListModel

DesktopCodingThreadListModel::DesktopCodingThreadListModel(const DesktopCodingHarnessViewModel *viewModel,
                                                           QObject *parent)
    : QAbstractListModel(parent), m_viewModel(viewModel) {
    const DesktopCodingThreadStore *store = &viewModel->threadStore();
    connect(store, &DesktopCodingThreadStore::threadAboutToBeAppended, this,
            [this](qsizetype row) { beginInsertRows({}, int(row), int(row)); });
    connect(store, &DesktopCodingThreadStore::threadAppended, this, [this] { endInsertRows(); });
    connect(store, &DesktopCodingThreadStore::aboutToClear, this, [this] { beginResetModel(); });
    connect(store, &DesktopCodingThreadStore::cleared, this, [this] { endResetModel(); });
    connect(store, &DesktopCodingThreadStore::threadChanged, this,
            [this](qsizetype row) { threadChanged(row); });
    connect(store, &DesktopCodingThreadStore::threadRetitled, this, [this](qsizetype row) {
        threadChanged(row, {TitleRole, Qt::DisplayRole});
    });
    connect(store, &DesktopCodingThreadStore::eventsChanged, this,
            [this](qsizetype row, const DesktopCodingConversationFold::Change &, bool newEvent) {
                if (newEvent) {
                    threadChanged(row, {SubtitleRole, UpdatedAtRole, TurnCountRole, HasContentRole});
                    return;
                }
                const auto shown = m_shownSubtitles.constFind(m_viewModel->threads()[row].id);
                if (shown == m_shownSubtitles.constEnd() || *shown != subtitle(row))
                    threadChanged(row, {SubtitleRole});
            });
    connect(viewModel, &DesktopCodingHarnessViewModel::selectedThreadMarkChanged, this, [this] {
        if (rowCount() > 0)
            Q_EMIT dataChanged(index(0), index(rowCount() - 1), {IsSelectedRole});
    });
}

int DesktopCodingThreadListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_viewModel->threads().size());
}

QVariant DesktopCodingThreadListModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const qsizetype row = index.row();
    const DesktopCodingThread &thread = m_viewModel->threads()[row];
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole:
        return thread.title;
    case IdRole:
        return thread.id;
    case ProjectIdRole:
        return thread.projectID;
    case SubtitleRole: {
        QString shown = subtitle(row);
        m_shownSubtitles.insert(thread.id, shown);
        return shown;
    }
    case UpdatedAtRole:
        return thread.updatedAt;
    case BridgeSessionIdRole:
        return thread.bridgeSessionID.value_or(QString());
    case AgentRole:
        return rawValue(thread.agent);
    case ModelIdRole:
        return thread.modelID.value_or(QString());
    case TurnCountRole:
        return m_viewModel->foldOfThread(row).turnCount();
    case IsSelectedRole:
        return m_viewModel->isSelectedThreadIndex(row);
    case HasContentRole:
        return thread.bridgeSessionID.has_value() || !thread.session.events.isEmpty();
    default:
        return {};
    }
}

QHash<int, QByteArray> DesktopCodingThreadListModel::roleNames() const {
    return {{IdRole, "threadID"},          {ProjectIdRole, "projectID"},
            {TitleRole, "title"},          {SubtitleRole, "subtitle"},
            {UpdatedAtRole, "updatedAt"},  {BridgeSessionIdRole, "bridgeSessionID"},
            {AgentRole, "agent"},          {ModelIdRole, "modelID"},
            {TurnCountRole, "turnCount"},  {IsSelectedRole, "isSelected"},
            {HasContentRole, "hasContent"}};
}

QString DesktopCodingThreadListModel::subtitle(qsizetype row) const {
    const DesktopCodingThread &thread = m_viewModel->threads()[row];
    return m_viewModel->foldOfThread(row).subtitle(
        thread.session.events, thread.bridgeSessionID ? u"Waiting for first message"_s : u"Ready"_s);
}

void DesktopCodingThreadListModel::threadChanged(qsizetype row, const QList<int> &roles) {
    const QModelIndex changed = index(int(row));
    Q_EMIT dataChanged(changed, changed, roles);
}

// ---------------------------------------------------------------------------------------------
// DesktopCodingProjectThreadsModel

DesktopCodingProjectThreadsModel::DesktopCodingProjectThreadsModel(
    const DesktopCodingHarnessViewModel *viewModel, DesktopCodingThreadListModel *source, QObject *parent)
    : QSortFilterProxyModel(parent), m_viewModel(viewModel) {
    setSourceModel(source);
    setSortRole(DesktopCodingThreadListModel::UpdatedAtRole);
    setDynamicSortFilter(true);
    sort(0, Qt::DescendingOrder);
    // Whether a thread is listed depends on the selection and on which threads of the project have content.
    const DesktopCodingThreadStore *store = &viewModel->threadStore();
    connect(store, &DesktopCodingThreadStore::threadAppended, this,
            &DesktopCodingProjectThreadsModel::refilter);
    connect(store, &DesktopCodingThreadStore::threadContentChanged, this,
            &DesktopCodingProjectThreadsModel::refilter);
    connect(viewModel, &DesktopCodingHarnessViewModel::selectedThreadMarkChanged, this,
            &DesktopCodingProjectThreadsModel::refilter);
}

void DesktopCodingProjectThreadsModel::refilter() {
    invalidateFilter();
}

bool DesktopCodingProjectThreadsModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const {
    return m_viewModel->isListedInProjectThreads(sourceRow);
}

bool DesktopCodingProjectThreadsModel::lessThan(const QModelIndex &left, const QModelIndex &right) const {
    const QList<DesktopCodingThread> &threads = m_viewModel->threads();
    const QDateTime &a = threads[left.row()].updatedAt;
    const QDateTime &b = threads[right.row()].updatedAt;
    if (a != b)
        return a < b;
    // Descending order reverses the comparison; keep ties in `threads` order.
    return left.row() > right.row();
}

// ---------------------------------------------------------------------------------------------
// DesktopCodingEventListModel

DesktopCodingEventListModel::DesktopCodingEventListModel(const DesktopCodingHarnessViewModel *viewModel,
                                                         Part part, QObject *parent)
    : QAbstractListModel(parent), m_viewModel(viewModel), m_part(part) {
    connect(viewModel, &DesktopCodingHarnessViewModel::visibleThreadAboutToChange, this,
            &DesktopCodingEventListModel::beginRebuild);
    connect(viewModel, &DesktopCodingHarnessViewModel::visibleThreadChanged, this,
            &DesktopCodingEventListModel::endRebuild);
    connect(&viewModel->threadStore(), &DesktopCodingThreadStore::eventsChanged, this,
            [this](qsizetype thread, const DesktopCodingConversationFold::Change &change, bool) {
                if (m_viewModel->visibleThreadIndex() == thread)
                    apply(change);
            });
    connect(&viewModel->threadStore(), &DesktopCodingThreadStore::eventDelivered, this,
            [this](qsizetype thread, qsizetype eventIndex) {
                if (m_part != Part::chat || m_viewModel->visibleThreadIndex() != thread)
                    return;
                if (const std::optional<qsizetype> row =
                        m_viewModel->visibleFold().chatRowOfEvent(eventIndex))
                    Q_EMIT dataChanged(index(int(*row)), index(int(*row)), {DeliveredRole});
            });
}

int DesktopCodingEventListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int DesktopCodingEventListModel::announcedRowCount() const {
    const DesktopCodingConversationFold &fold = m_viewModel->visibleFold();
    return int(m_part == Part::chat ? fold.chatCount() : fold.activityCount());
}

QVariant DesktopCodingEventListModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const QList<DesktopCodingEvent> &events = m_viewModel->visibleSession().events;
    const DesktopCodingConversationFold &fold = m_viewModel->visibleFold();
    if (m_part == Part::chat && (role == SummaryRole || role == Qt::DisplayRole))
        return fold.chatSummary(events, index.row());
    if (role == SummaryLengthRole)
        return int(summaryAt(index.row()).size());
    const DesktopCodingEvent event =
        m_part == Part::chat ? fold.chatEvent(events, index.row()) : fold.activityEvent(events, index.row());
    switch (role) {
    case Qt::DisplayRole:
    case SummaryRole:
        return event.summary;
    case IdRole:
        return event.id;
    case KindRole:
        return int(event.kind);
    case KindNameRole:
        return displayName(event.kind);
    case DetailRole:
        return event.detail.value_or(QString());
    case CreatedAtRole:
        return event.createdAt;
    case ImagesRole:
        return imagesForView(event.images);
    case ImageCountRole:
        return int(event.images.size());
    case DeliveredRole:
        return event.kind == DesktopCodingEventKind::userMessage &&
               m_viewModel->isVisibleEventDelivered(event.id);
    default:
        return {};
    }
}

QHash<int, QByteArray> DesktopCodingEventListModel::roleNames() const {
    return {{IdRole, "eventID"},
            {KindRole, "kind"},
            {KindNameRole, "kindName"},
            {SummaryRole, "summary"},
            {DetailRole, "detail"},
            {CreatedAtRole, "createdAt"},
            {ImagesRole, "images"},
            {ImageCountRole, "imageCount"},
            {SummaryLengthRole, "summaryLength"},
            {DeliveredRole, "delivered"}};
}

std::optional<qsizetype> DesktopCodingConversationFold::chatRowOfEvent(qsizetype eventIndex) const {
    if (eventIndex < 0 || eventIndex >= m_chatRowOfEvent.size() || m_chatRowOfEvent[eventIndex] < 0)
        return std::nullopt;
    return m_chatRowOfEvent[eventIndex];
}

QString DesktopCodingEventListModel::summaryAt(int row) const {
    if (row < 0 || row >= rowCount())
        return {};
    const QList<DesktopCodingEvent> &events = m_viewModel->visibleSession().events;
    const DesktopCodingConversationFold &fold = m_viewModel->visibleFold();
    return m_part == Part::chat ? fold.chatSummary(events, row) : fold.activityEvent(events, row).summary;
}

void DesktopCodingEventListModel::beginRebuild() {
    if (m_resetting)
        return;
    m_resetting = true;
    beginResetModel();
}

void DesktopCodingEventListModel::endRebuild() {
    if (!m_resetting)
        return;
    m_resetting = false;
    m_rowCount = announcedRowCount();
    endResetModel();
}

void DesktopCodingEventListModel::apply(const DesktopCodingConversationFold::Change &change) {
    const std::optional<DesktopCodingConversationFold::Rows> inserted =
        m_part == Part::chat ? change.chatRowsInserted : change.activityRowsInserted;
    const int expected = announcedRowCount();
    const bool inStep =
        !inserted ? m_rowCount == expected : inserted->first == m_rowCount && inserted->last + 1 == expected;
    if (change.reset || !inStep) {
        // Rebuilt, or a change that does not follow the rows announced so far: start over.
        beginResetModel();
        m_rowCount = expected;
        endResetModel();
        return;
    }
    if (inserted) {
        beginInsertRows({}, int(inserted->first), int(inserted->last));
        m_rowCount = expected;
        endInsertRows();
    }
    // A row whose last event only grew keeps its time: a streamed answer changes its text alone (a row told
    // that its time changed converts and compares it again, thousands of times a second).
    if (m_part == Part::chat && change.chatRowsChanged) {
        QList<int> roles{SummaryRole, Qt::DisplayRole, SummaryLengthRole};
        if (change.chatRowTimesChanged)
            roles.append(CreatedAtRole);
        Q_EMIT dataChanged(index(int(change.chatRowsChanged->first)),
                           index(int(change.chatRowsChanged->last)), roles);
    }
}

// ---------------------------------------------------------------------------------------------
// DesktopCodingPendingApprovalListModel

DesktopCodingPendingApprovalListModel::DesktopCodingPendingApprovalListModel(
    const DesktopCodingApprovalQueue *queue, QObject *parent)
    : QAbstractListModel(parent), m_queue(queue) {
    connect(queue, &DesktopCodingApprovalQueue::aboutToAppend, this,
            [this](qsizetype row) { beginInsertRows({}, int(row), int(row)); });
    connect(queue, &DesktopCodingApprovalQueue::appended, this, [this] { endInsertRows(); });
    connect(queue, &DesktopCodingApprovalQueue::aboutToRemove, this,
            [this](qsizetype row) { beginRemoveRows({}, int(row), int(row)); });
    connect(queue, &DesktopCodingApprovalQueue::removed, this, [this] { endRemoveRows(); });
}

int DesktopCodingPendingApprovalListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_queue->approvals().size());
}

QVariant DesktopCodingPendingApprovalListModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const DesktopCodingPendingApproval &approval = m_queue->approvals()[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case SummaryRole:
        return approval.summary;
    case IdRole:
        return approval.id;
    case ThreadIdRole:
        return approval.threadID;
    case SessionIdRole:
        return approval.sessionID;
    case ApprovalIdRole:
        return approval.approvalID;
    case MessageIdRole:
        return approval.messageID;
    case MethodRole:
        return approval.method;
    case EventIdRole:
        return approval.eventID;
    case CreatedAtRole:
        return approval.createdAt;
    default:
        return {};
    }
}

QHash<int, QByteArray> DesktopCodingPendingApprovalListModel::roleNames() const {
    return {{IdRole, "approvalKey"},        {ThreadIdRole, "threadID"},   {SessionIdRole, "sessionID"},
            {ApprovalIdRole, "approvalID"}, {MessageIdRole, "messageID"}, {MethodRole, "method"},
            {SummaryRole, "summary"},       {EventIdRole, "eventID"},     {CreatedAtRole, "createdAt"}};
}

} // namespace rirudez
