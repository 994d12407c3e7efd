#include "DesktopCodingHarnessViewState.h"

#include "DesktopCodingHarnessViewModel.h"
#include "HarnessLabels.h"
#include "HarnessPalette.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QLocale>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {
// The display name of a raw value, or the raw value itself when it names no case.
template <typename Enum>
QString displayNameOfRaw(const QString &raw) {
    const std::optional<Enum> value = fromRaw<Enum>(raw);
    return value ? displayName(*value) : raw;
}
} // namespace

DesktopCodingHarnessViewState::DesktopCodingHarnessViewState(QObject *parent) : QObject(parent) {}

void DesktopCodingHarnessViewState::setProjectRailCollapsed(bool collapsed) {
    if (m_projectRailCollapsed == collapsed)
        return;
    m_projectRailCollapsed = collapsed;
    Q_EMIT projectRailCollapsedChanged();
}

void DesktopCodingHarnessViewState::setInspectorCollapsed(bool collapsed) {
    if (m_inspectorCollapsed == collapsed)
        return;
    m_inspectorCollapsed = collapsed;
    Q_EMIT inspectorCollapsedChanged();
}

QStringList DesktopCodingHarnessViewState::transcriptEventIDList() const {
    QStringList ids(m_transcriptEventIDs.begin(), m_transcriptEventIDs.end());
    ids.sort();
    return ids;
}

void DesktopCodingHarnessViewState::toggleComposerPicker(ComposerPicker picker) {
    if (picker == ComposerPicker::none)
        return closeComposerPicker();
    m_composerPicker = m_composerPicker == picker ? ComposerPicker::none : picker;
    Q_EMIT composerPickerChanged();
}

void DesktopCodingHarnessViewState::closeComposerPicker() {
    if (m_composerPicker == ComposerPicker::none)
        return;
    m_composerPicker = ComposerPicker::none;
    Q_EMIT composerPickerChanged();
}

void DesktopCodingHarnessViewState::toggleTranscript(const QString &eventID) {
    if (!m_transcriptEventIDs.remove(eventID))
        m_transcriptEventIDs.insert(eventID);
    Q_EMIT transcriptEventIDsChanged();
}

void DesktopCodingHarnessViewState::setViewModel(DesktopCodingHarnessViewModel *viewModel) {
    if (m_viewModel == viewModel)
        return;
    if (m_viewModel)
        m_viewModel->disconnect(this);
    m_viewModel = viewModel;
    if (viewModel) {
        auto follow = [this] { followViewModel(); };
        connect(viewModel, &DesktopCodingHarnessViewModel::derivedValuesChanged, this, follow);
        connect(viewModel, &DesktopCodingHarnessViewModel::sessionChanged, this, follow);
        connect(viewModel, &DesktopCodingHarnessViewModel::threadsChanged, this, follow);
        connect(viewModel, &DesktopCodingHarnessViewModel::pendingApprovalsChanged, this, [this] {
            ++m_approvalRevision;
            Q_EMIT approvalRevisionChanged();
        });
        for (QObject *object : {viewModel->chatEventModel(), viewModel->activityEventModel()}) {
            auto *model = qobject_cast<QAbstractItemModel *>(object);
            if (!model)
                continue;
            connect(model, &QAbstractItemModel::rowsInserted, this, follow);
            connect(model, &QAbstractItemModel::rowsRemoved, this, follow);
            connect(model, &QAbstractItemModel::modelReset, this, follow);
            connect(model, &QAbstractItemModel::dataChanged, this, follow);
        }
    }
    readViewModel();
}

void DesktopCodingHarnessViewState::followViewModel() {
    if (m_readScheduled)
        return;
    m_readScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_readScheduled = false;
            readViewModel();
        },
        Qt::QueuedConnection);
}

void DesktopCodingHarnessViewState::readViewModel() {
    QString threadID;
    QString lastEventID;
    QString latestActivity;
    int chatRows = 0;
    int activityRows = 0;
    if (m_viewModel) {
        if (const DesktopCodingThread *thread = m_viewModel->selectedThread())
            threadID = thread->id;
        if (auto *chat = qobject_cast<QAbstractItemModel *>(m_viewModel->chatEventModel())) {
            chatRows = chat->rowCount();
            if (m_chatEventIDRole < 0)
                m_chatEventIDRole = chat->roleNames().key("eventID", -1);
            // The last row's event: a streamed answer merges its pieces into one row, so this changes when a
            // row is added, not on every piece of a growing answer.
            if (chatRows > 0)
                lastEventID = chat->data(chat->index(chatRows - 1, 0), m_chatEventIDRole).toString();
        }
        if (auto *activity = qobject_cast<QAbstractItemModel *>(m_viewModel->activityEventModel())) {
            activityRows = activity->rowCount();
            if (m_activitySummaryRole < 0)
                m_activitySummaryRole = activity->roleNames().key("summary", -1);
            if (activityRows > 0)
                latestActivity =
                    activity->data(activity->index(activityRows - 1, 0), m_activitySummaryRole).toString();
        }
    }
    if (threadID != m_selectedThreadID) {
        m_selectedThreadID = threadID;
        Q_EMIT selectedThreadIDChanged();
    }
    if (lastEventID != m_lastEventID) {
        m_lastEventID = lastEventID;
        Q_EMIT lastEventIDChanged();
    }
    if (chatRows != m_chatCount) {
        m_chatCount = chatRows;
        Q_EMIT chatCountChanged();
    }
    if (activityRows != m_activityCount) {
        m_activityCount = activityRows;
        Q_EMIT activityCountChanged();
    }
    if (latestActivity != m_latestActivitySummary) {
        m_latestActivitySummary = latestActivity;
        Q_EMIT latestActivitySummaryChanged();
    }
}

QString DesktopCodingHarnessViewState::pendingApprovalID(const QString &eventID) const {
    return m_viewModel ? m_viewModel->pendingApprovalForEventID(eventID).value(u"id"_s).toString()
                       : QString();
}

bool DesktopCodingHarnessViewState::beginInitialBridgeRefresh() {
    if (m_didInitialBridgeRefresh)
        return false;
    m_didInitialBridgeRefresh = true;
    Q_EMIT didInitialBridgeRefreshChanged();
    return true;
}

double DesktopCodingHarnessViewState::projectRailWidth(double screenWidth) const {
    return std::clamp(screenWidth * 0.22, 240.0, 320.0);
}

double DesktopCodingHarnessViewState::inspectorWidth(double screenWidth) const {
    return std::clamp(screenWidth * 0.28, 300.0, 390.0);
}

QString DesktopCodingHarnessViewState::sessionSubtitle(const QString &projectID, const QString &modelID,
                                                       const QString &permissionWireValue) const {
    QStringList parts;
    for (const QString &part : {projectID, modelID, permissionWireValue}) {
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(u" / "_s);
}

QString DesktopCodingHarnessViewState::activityCountLine(int count) const {
    return QString::number(count) + u" bridge event"_s + (count == 1 ? QString() : u"s"_s);
}

QString DesktopCodingHarnessViewState::activitySummaryLine(const QString &latestSummary) const {
    return latestSummary.isEmpty() ? u"Bridge is ready."_s : latestSummary;
}

QString DesktopCodingHarnessViewState::accessDisplayName(const QString &access) const {
    return displayNameOfRaw<RepoAccessMode>(access);
}

QString DesktopCodingHarnessViewState::agentDisplayName(const QString &agent) const {
    return displayName(fromRaw<DesktopCodingAgent>(agent).value_or(DesktopCodingAgent::codex));
}

QString DesktopCodingHarnessViewState::agentSymbol(const QString &agent) const {
    return HarnessLabels::agentSymbol(agent);
}

QString DesktopCodingHarnessViewState::thinkingLabel(const QString &level) const {
    return displayNameOfRaw<DesktopCodingThinkingLevel>(level);
}

HarnessEventStyle DesktopCodingHarnessViewState::eventStyle(DesktopCodingEventKind kind) {
    using Kind = DesktopCodingEventKind;
    switch (kind) {
    case Kind::userMessage:
        return {u"person.crop.circle"_s, u"User"_s, HarnessPalette::red(), false, true};
    case Kind::status:
        return {u"progress.indicator"_s, u"Status"_s, HarnessPalette::teal()};
    case Kind::toolUse:
        return {u"wrench.and.screwdriver"_s, u"Tool"_s, HarnessPalette::teal()};
    case Kind::command:
        return {u"terminal"_s, u"Command"_s, HarnessPalette::teal()};
    case Kind::approval:
        return {u"hand.raised"_s, u"Approval"_s, HarnessPalette::red()};
    case Kind::createdFile:
        return {u"doc.badge.plus"_s, u"File"_s, HarnessPalette::teal()};
    case Kind::diff:
        return {u"doc.text.magnifyingglass"_s, u"Diff"_s, HarnessPalette::brown()};
    case Kind::assistantText:
        return {u"text.bubble"_s, u"Assistant"_s, HarnessPalette::teal(), true};
    case Kind::completed:
        return {u"text.bubble"_s, u"Assistant"_s, HarnessPalette::green(), true};
    case Kind::failed:
        return {u"exclamationmark.triangle"_s, u"Failed"_s, HarnessPalette::orange()};
    }
    return {u"text.bubble"_s, u"Assistant"_s, HarnessPalette::teal(), true};
}

QVariantMap DesktopCodingHarnessViewState::eventStyleMap(int kind) const {
    const HarnessEventStyle style = eventStyle(DesktopCodingEventKind(kind));
    return {{u"symbol"_s, style.symbol},
            {u"name"_s, style.name},
            {u"tint"_s, style.tint},
            {u"markdown"_s, style.markdown},
            {u"framed"_s, style.framed}};
}

QString DesktopCodingHarnessViewState::characterCount(const QString &prompt) const {
    return QString::number(DesktopCodingComposerSelection::characterCount(prompt.trimmed()));
}

QVariantList DesktopCodingHarnessViewState::requestPreview(const QString &projectID, const QString &agent,
                                                           const QString &modelID, const QString &runtimeMode,
                                                           const QString &thinking, bool allowWeb) const {
    auto line = [](const QString &label, const QString &value) {
        return QVariantMap{{u"label"_s, label}, {u"value"_s, value}};
    };
    return {
        line(u"project"_s, projectID.isEmpty() ? u"none"_s : projectID),
        line(u"agent"_s, agent),
        line(u"model"_s, modelID.isEmpty() ? u"default"_s : modelID),
        line(u"mode"_s,
             displayName(
                 fromRaw<DesktopCodingRuntimeMode>(runtimeMode).value_or(DesktopCodingRuntimeMode::sandbox))),
        line(u"think"_s, thinking),
        line(u"web"_s, allowWeb ? u"on"_s : u"off"_s),
    };
}

QString DesktopCodingHarnessViewState::shortTime(const QDateTime &createdAt) const {
    return QLocale().toString(createdAt.toLocalTime().time(), QLocale::ShortFormat);
}

} // namespace rirudez
