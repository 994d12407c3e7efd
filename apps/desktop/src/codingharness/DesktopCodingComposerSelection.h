#pragma once

// The composer's choices: agent, model, thinking level, runtime mode (access and permission), web access and
// the prompt, with the model catalogue they are chosen from. Every choice the user makes goes through the
// clamping here (a model of the agent, a thinking level of the model, the access the project allows), so no
// setter path can skip it. Settings adopted from a thread or the bridge are taken as they are.
//
// The composer and the inspector on screen are given this object: they read its properties and make their
// choices through its choose… operations, which also write the choice to the selected thread (through the
// host, the view model).

#include "DesktopCodingHarnessModels.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

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
    // For the screen. Enumerations read as their raw values; the model option as a map ("" fields when none).
    Q_PROPERTY(QString agent READ agentRaw NOTIFY agentChanged)
    Q_PROPERTY(QVariantList modelOptions READ modelOptionsForView NOTIFY changed)
    Q_PROPERTY(QVariantMap selectedModel READ selectedModelForView NOTIFY changed)
    Q_PROPERTY(QString thinking READ thinkingRaw NOTIFY thinkingChanged)
    Q_PROPERTY(QStringList thinkingOptions READ thinkingOptionsForView NOTIFY changed)
    Q_PROPERTY(QString runtimeMode READ runtimeModeRaw NOTIFY changed)
    Q_PROPERTY(bool allowWeb READ allowWeb WRITE setAllowWeb NOTIFY allowWebChanged)
    Q_PROPERTY(QString promptText READ promptText WRITE setPromptText NOTIFY promptTextChanged)

public:
    // What the user's choices depend on and change besides the selection: the selected project bounds the
    // access a runtime mode gives, and the selected thread carries the choices.
    class Host {
    public:
        virtual ~Host() = default;
        virtual std::optional<DesktopCodingProject> selectedProject() const = 0;
        virtual void updateSelectedThreadSettings() = 0;
    };

    DesktopCodingComposerSelection(Host &host, DesktopCodingModelCatalog catalog,
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

    // The user's choices, clamped, then written to the selected thread (the agent and the runtime mode
    // always, a model or thinking level only when it is an option). Unknown raw values do nothing.
    void chooseAgent(DesktopCodingAgent agent);
    void chooseModel(const QString &id);
    void chooseThinking(DesktopCodingThinkingLevel level);
    void chooseRuntimeMode(DesktopCodingRuntimeMode mode);
    Q_INVOKABLE void chooseAgentByID(const QString &agent);
    Q_INVOKABLE void chooseModelByID(const QString &id) { chooseModel(id); }
    Q_INVOKABLE void chooseThinkingByID(const QString &level);
    Q_INVOKABLE void chooseRuntimeModeByID(const QString &mode);

    // The QML forms of a model option (id, displayName, agent, supportsVision, speedLabel, thinkingLevels)
    // and of a list of them; those of the published values.
    static QVariantMap modelOptionForView(const DesktopCodingModelOption &option);
    static QVariantList modelOptionsForView(const QList<DesktopCodingModelOption> &options);
    QString agentRaw() const { return rawValue(agent()); }
    QVariantList modelOptionsForView() const { return modelOptionsForView(modelOptions()); }
    QVariantMap selectedModelForView() const;
    QString thinkingRaw() const { return rawValue(thinking()); }
    QStringList thinkingOptionsForView() const { return rawValues(thinkingOptions()); }
    QString runtimeModeRaw() const { return rawValue(runtimeMode()); }

    // Choices clamped without writing them anywhere else. The project decides the access a runtime mode
    // gives.
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

    Host &m_host;
    DesktopCodingModelCatalog m_modelCatalog;
    DesktopCodingComposerSettings m_settings;
    QString m_promptText;
};

} // namespace rirudez
