#pragma once

// The composer's choices: agent, model, thinking level, runtime mode (access and permission), web access and
// the prompt, with the model catalogue they are chosen from. Every choice the user makes goes through the
// clamping here (a model of the agent, a thinking level of the model, the access the project allows), so no
// setter path can skip it. Settings adopted from a thread or the bridge are taken as they are.

#include "DesktopCodingHarnessModels.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace rirudez {

// The settings a thread carries and the composer shows.
struct DesktopCodingComposerSettings {
    DesktopCodingAgent agent = DesktopCodingAgent::codex;
    std::optional<QString> modelID;
    RepoAccessMode access = RepoAccessMode::edit;
    AgentPermissionMode permission = AgentPermissionMode::auto_;
    DesktopCodingThinkingLevel thinking = DesktopCodingThinkingLevel::medium;
    bool allowWeb = false;

    static DesktopCodingComposerSettings of(const DesktopCodingThread &thread);
    // Whether the thread carries exactly these settings.
    bool matches(const DesktopCodingThread &thread) const;
    void applyTo(DesktopCodingThread &thread) const;
    bool operator==(const DesktopCodingComposerSettings &) const = default;
};

class DesktopCodingComposerSelection : public QObject {
    Q_OBJECT
public:
    DesktopCodingComposerSelection(DesktopCodingModelCatalog catalog,
                                   const std::optional<DesktopCodingProject> &firstProject,
                                   QObject *parent = nullptr);

    const DesktopCodingModelCatalog &modelCatalog() const { return m_modelCatalog; }
    const DesktopCodingComposerSettings &settings() const { return m_settings; }
    DesktopCodingAgent agent() const { return m_settings.agent; }
    const std::optional<QString> &modelID() const { return m_settings.modelID; }
    RepoAccessMode access() const { return m_settings.access; }
    AgentPermissionMode permission() const { return m_settings.permission; }
    DesktopCodingThinkingLevel thinking() const { return m_settings.thinking; }
    bool allowWeb() const { return m_settings.allowWeb; }
    const QString &promptText() const { return m_promptText; }

    // The catalogue entry for the agent when present (even if empty), else the built-in defaults; only
    // options with vision.
    static QList<DesktopCodingModelOption> modelOptions(DesktopCodingAgent agent,
                                                        const DesktopCodingModelCatalog &catalog);
    QList<DesktopCodingModelOption> modelOptions() const;
    std::optional<DesktopCodingModelOption> selectedModel() const;
    QList<DesktopCodingThinkingLevel> thinkingOptions() const;
    DesktopCodingRuntimeMode runtimeMode() const;
    // The trimmed prompt's length in user-perceived characters (an emoji is one).
    int promptCharacterCount() const;
    static int characterCount(const QString &text);

    // User choices, clamped. The project decides the access a runtime mode gives.
    void selectAgent(DesktopCodingAgent agent, const std::optional<DesktopCodingProject> &project);
    // False (and nothing changes) when the id is not an option of the agent.
    bool selectModel(const QString &id);
    // False (and nothing changes) when the level is not an option of the model.
    bool selectThinking(DesktopCodingThinkingLevel level);
    void applyRuntimeMode(DesktopCodingRuntimeMode mode, const std::optional<DesktopCodingProject> &project);
    void setAllowWeb(bool allowWeb);
    void setPromptText(const QString &text);
    // A catalogue from the bridge: its agents replace those of the built-in one; the model stays an option.
    void installCatalog(const DesktopCodingModelCatalog &catalog);
    // Takes a thread's (or the bridge's) settings as they are; each is written only when it differs.
    void adopt(const DesktopCodingComposerSettings &settings);

Q_SIGNALS:
    void modelCatalogChanged();
    void agentChanged();
    void modelIDChanged();
    void accessChanged();
    void permissionChanged();
    void thinkingChanged();
    void allowWebChanged();
    void promptTextChanged();
    // After any of the above: the derived values (options, selected model, draft) may differ.
    void changed();

private:
    void clampModel();
    void clampThinking();
    template <typename Member, typename Value>
    void write(Member &member, const Value &value, void (DesktopCodingComposerSelection::*changed)());

    DesktopCodingModelCatalog m_modelCatalog;
    DesktopCodingComposerSettings m_settings;
    QString m_promptText;
};

} // namespace rirudez
