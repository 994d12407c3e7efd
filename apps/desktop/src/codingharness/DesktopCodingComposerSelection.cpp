#include "DesktopCodingComposerSelection.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace rirudez {
using namespace Qt::StringLiterals;

DesktopCodingComposerSettings DesktopCodingComposerSettings::of(const DesktopCodingThread &thread) {
    return {thread.agent, thread.modelID, thread.access, thread.permission, thread.thinking, thread.allowWeb};
}

bool DesktopCodingComposerSettings::matches(const DesktopCodingThread &thread) const {
    return *this == of(thread);
}

void DesktopCodingComposerSettings::applyTo(DesktopCodingThread &thread) const {
    thread.agent = agent;
    thread.modelID = modelID;
    thread.access = access;
    thread.permission = permission;
    thread.thinking = thinking;
    thread.allowWeb = allowWeb;
}

DesktopCodingComposerSelection::DesktopCodingComposerSelection(
    Host &host, DesktopCodingModelCatalog catalog, const std::optional<DesktopCodingProject> &firstProject,
    QObject *parent)
    : QObject(parent), m_host(host), m_modelCatalog(std::move(catalog)) {
    const QList<DesktopCodingModelOption> codexOptions =
        modelOptions(DesktopCodingAgent::codex, m_modelCatalog);
    if (!codexOptions.isEmpty())
        m_settings.modelID = codexOptions.first().id;
    m_settings.access = firstProject ? firstProject->sandboxAccessMode() : RepoAccessMode::edit;
}

template <typename Member, typename Value>
void DesktopCodingComposerSelection::write(Member &member, const Value &value,
                                           void (DesktopCodingComposerSelection::*changedSignal)()) {
    if (member == value)
        return;
    member = value;
    Q_EMIT(this->*changedSignal)();
    Q_EMIT changed();
}

QList<DesktopCodingModelOption>
DesktopCodingComposerSelection::modelOptions(DesktopCodingAgent agent,
                                             const DesktopCodingModelCatalog &catalog) {
    const auto entry = catalog.constFind(agent);
    const QList<DesktopCodingModelOption> options =
        entry != catalog.constEnd() ? *entry : DesktopCodingModelOption::defaults(agent);
    QList<DesktopCodingModelOption> withVision;
    for (const DesktopCodingModelOption &option : options)
        if (option.supportsVision)
            withVision.append(option);
    return withVision;
}

QList<DesktopCodingModelOption> DesktopCodingComposerSelection::modelOptions() const {
    return modelOptions(m_settings.agent, m_modelCatalog);
}

std::optional<DesktopCodingModelOption> DesktopCodingComposerSelection::selectedModel() const {
    const QList<DesktopCodingModelOption> options = modelOptions();
    if (options.isEmpty())
        return std::nullopt;
    if (m_settings.modelID) {
        for (const DesktopCodingModelOption &option : options)
            if (option.id == *m_settings.modelID)
                return option;
    }
    return options.first();
}

QList<DesktopCodingThinkingLevel> DesktopCodingComposerSelection::thinkingOptions() const {
    const std::optional<DesktopCodingModelOption> model = selectedModel();
    if (!model)
        return {allDesktopCodingThinkingLevels.begin(), allDesktopCodingThinkingLevels.end()};
    return model->thinkingLevels;
}

DesktopCodingRuntimeMode DesktopCodingComposerSelection::runtimeMode() const {
    return desktopCodingRuntimeMode(m_settings.access, m_settings.permission);
}

int DesktopCodingComposerSelection::promptCharacterCount() const {
    return characterCount(m_promptText.trimmed());
}

int DesktopCodingComposerSelection::characterCount(const QString &text) {
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() >= 0)
        ++count;
    return count;
}

void DesktopCodingComposerSelection::chooseAgent(DesktopCodingAgent agent) {
    selectAgent(agent, m_host.selectedProject());
    m_host.updateSelectedThreadSettings();
}

void DesktopCodingComposerSelection::chooseModel(const QString &id) {
    if (selectModel(id))
        m_host.updateSelectedThreadSettings();
}

void DesktopCodingComposerSelection::chooseThinking(DesktopCodingThinkingLevel level) {
    if (selectThinking(level))
        m_host.updateSelectedThreadSettings();
}

void DesktopCodingComposerSelection::chooseRuntimeMode(DesktopCodingRuntimeMode mode) {
    applyRuntimeMode(mode, m_host.selectedProject());
    m_host.updateSelectedThreadSettings();
}

void DesktopCodingComposerSelection::chooseAgentByID(const QString &agent) {
    withCase<DesktopCodingAgent>(agent, [this](DesktopCodingAgent parsed) { chooseAgent(parsed); });
}

void DesktopCodingComposerSelection::chooseThinkingByID(const QString &level) {
    withCase<DesktopCodingThinkingLevel>(
        level, [this](DesktopCodingThinkingLevel parsed) { chooseThinking(parsed); });
}

void DesktopCodingComposerSelection::chooseRuntimeModeByID(const QString &mode) {
    withCase<DesktopCodingRuntimeMode>(
        mode, [this](DesktopCodingRuntimeMode parsed) { chooseRuntimeMode(parsed); });
}

QVariantMap DesktopCodingComposerSelection::modelOptionForView(const DesktopCodingModelOption &option) {
    return {{u"id"_s, option.id},
            {u"displayName"_s, option.displayName},
            {u"agent"_s, rawValue(option.agent)},
            {u"supportsVision"_s, option.supportsVision},
            {u"speedLabel"_s, option.speedLabel},
            {u"thinkingLevels"_s, rawValues(option.thinkingLevels)}};
}

QVariantList
DesktopCodingComposerSelection::modelOptionsForView(const QList<DesktopCodingModelOption> &options) {
    QVariantList list;
    list.reserve(options.size());
    for (const DesktopCodingModelOption &option : options)
        list.append(modelOptionForView(option));
    return list;
}

QVariantMap DesktopCodingComposerSelection::selectedModelForView() const {
    const std::optional<DesktopCodingModelOption> model = selectedModel();
    return model ? modelOptionForView(*model) : QVariantMap();
}

void DesktopCodingComposerSelection::selectAgent(DesktopCodingAgent agent,
                                                 const std::optional<DesktopCodingProject> &project) {
    const DesktopCodingRuntimeMode mode = runtimeMode();
    write(m_settings.agent, agent, &DesktopCodingComposerSelection::agentChanged);
    clampModel();
    applyRuntimeMode(mode, project);
    clampThinking();
}

bool DesktopCodingComposerSelection::selectModel(const QString &id) {
    const QList<DesktopCodingModelOption> options = modelOptions();
    if (std::none_of(options.begin(), options.end(),
                     [&](const DesktopCodingModelOption &o) { return o.id == id; }))
        return false;
    write(m_settings.modelID, std::optional<QString>(id), &DesktopCodingComposerSelection::modelIDChanged);
    clampThinking();
    return true;
}

bool DesktopCodingComposerSelection::selectThinking(DesktopCodingThinkingLevel level) {
    if (!thinkingOptions().contains(level))
        return false;
    write(m_settings.thinking, level, &DesktopCodingComposerSelection::thinkingChanged);
    return true;
}

void DesktopCodingComposerSelection::applyRuntimeMode(DesktopCodingRuntimeMode mode,
                                                      const std::optional<DesktopCodingProject> &project) {
    write(m_settings.access, rirudez::access(mode, project), &DesktopCodingComposerSelection::accessChanged);
    write(m_settings.permission, rirudez::permission(mode, m_settings.agent),
          &DesktopCodingComposerSelection::permissionChanged);
}

void DesktopCodingComposerSelection::setAllowWeb(bool allowWeb) {
    write(m_settings.allowWeb, allowWeb, &DesktopCodingComposerSelection::allowWebChanged);
}

void DesktopCodingComposerSelection::setPromptText(const QString &text) {
    write(m_promptText, text, &DesktopCodingComposerSelection::promptTextChanged);
}

void DesktopCodingComposerSelection::installCatalog(const DesktopCodingModelCatalog &catalog) {
    if (catalog.isEmpty())
        return;
    DesktopCodingModelCatalog merged = DesktopCodingModelOption::fallbackModelCatalog();
    for (auto it = catalog.constBegin(); it != catalog.constEnd(); ++it)
        merged.insert(it.key(), it.value());
    write(m_modelCatalog, merged, &DesktopCodingComposerSelection::modelCatalogChanged);
    clampModel();
}

void DesktopCodingComposerSelection::adopt(const DesktopCodingComposerSettings &settings) {
    write(m_settings.agent, settings.agent, &DesktopCodingComposerSelection::agentChanged);
    write(m_settings.modelID, settings.modelID, &DesktopCodingComposerSelection::modelIDChanged);
    write(m_settings.access, settings.access, &DesktopCodingComposerSelection::accessChanged);
    write(m_settings.permission, settings.permission, &DesktopCodingComposerSelection::permissionChanged);
    write(m_settings.thinking, settings.thinking, &DesktopCodingComposerSelection::thinkingChanged);
    write(m_settings.allowWeb, settings.allowWeb, &DesktopCodingComposerSelection::allowWebChanged);
}

void DesktopCodingComposerSelection::clampModel() {
    const QList<DesktopCodingModelOption> options = modelOptions();
    const std::optional<QString> &current = m_settings.modelID;
    const bool known =
        current && std::any_of(options.begin(), options.end(),
                               [&](const DesktopCodingModelOption &o) { return o.id == *current; });
    if (!known)
        write(m_settings.modelID,
              options.isEmpty() ? std::optional<QString>() : std::optional<QString>(options.first().id),
              &DesktopCodingComposerSelection::modelIDChanged);
}

void DesktopCodingComposerSelection::clampThinking() {
    const QList<DesktopCodingThinkingLevel> options = thinkingOptions();
    if (!options.contains(m_settings.thinking))
        write(m_settings.thinking,
              options.isEmpty() ? DesktopCodingThinkingLevel::automatic : options.first(),
              &DesktopCodingComposerSelection::thinkingChanged);
}

} // namespace rirudez
