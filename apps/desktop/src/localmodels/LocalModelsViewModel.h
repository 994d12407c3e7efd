#pragma once

// The local models screen's state: the provider the user picked, the server's base URL and optional token,
// the last summary of that server, advice about the address, the helper button and why the last refresh
// failed. UI thread only.

#include "ConnectionGuidance.h"
#include "HelperAffordance.h"
#include "LocalHealthSource.h"
#include "LocalHealthSummary.h"
#include "LocalProviderOption.h"

#include <QCoroTask>
#include <QObject>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace rirudez {

class LocalModelsViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("LocalModelsViewModel is created by its owner")

    Q_PROPERTY(QVariantList providerOptions READ providerOptions CONSTANT)
    Q_PROPERTY(QString selectedProviderID READ selectedProviderID NOTIFY changed)
    Q_PROPERTY(QString baseURL READ baseURL NOTIFY changed)
    Q_PROPERTY(QString token READ tokenText WRITE setTokenText NOTIFY changed)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY changed)
    Q_PROPERTY(bool isReachable READ isReachable NOTIFY changed)
    Q_PROPERTY(QString reachabilityDetail READ reachabilityDetail NOTIFY changed)
    Q_PROPERTY(bool isProviderReady READ isProviderReady NOTIFY changed)
    Q_PROPERTY(QString providerDetail READ providerDetail NOTIFY changed)
    Q_PROPERTY(bool requiresPairing READ requiresPairing NOTIFY changed)
    Q_PROPERTY(QString pairingDetail READ pairingDetail NOTIFY changed)
    Q_PROPERTY(QString guidanceHeadline READ guidanceHeadline NOTIFY changed)
    Q_PROPERTY(QString guidanceDetail READ guidanceDetail NOTIFY changed)
    Q_PROPERTY(QString affordanceTitle READ affordanceTitle NOTIFY changed)
    Q_PROPERTY(QString affordanceSymbol READ affordanceSymbol NOTIFY changed)
    Q_PROPERTY(QString affordanceText READ affordanceText NOTIFY changed)
    Q_PROPERTY(bool affordanceActionable READ affordanceActionable NOTIFY changed)
    Q_PROPERTY(QString errorText READ errorText NOTIFY changed)
    Q_PROPERTY(int refreshCount READ refreshCount NOTIFY changed)

public:
    class FetchError {
    public:
        struct Transport {
            QString message;
            bool operator==(const Transport &) const = default;
        };
        struct BaseURLMissing {
            bool operator==(const BaseURLMissing &) const = default;
        };
        using Value = std::variant<Transport, BaseURLMissing>;

        FetchError(Value value) : m_value(std::move(value)) {}
        static FetchError transport(QString message) { return FetchError(Transport{std::move(message)}); }
        static FetchError baseURLMissing() { return FetchError(BaseURLMissing{}); }
        const Value &value() const { return m_value; }
        // The sentence the screen's error line shows.
        QString text() const;
        bool operator==(const FetchError &) const = default;

    private:
        Value m_value;
    };

    // Opens a helper URL: runs a local executable, or hands any other URL to the desktop. True on success.
    using HelperLauncher = std::function<bool(const QUrl &)>;

    // The helper the screen offers: rirudez-local-server, looked up on the PATH, then beside this program.
    static std::optional<QUrl> installedHelperURL();
    static bool defaultIsHelperInstalled();
    static bool defaultLaunchHelper(const QUrl &url);

    LocalModelsViewModel(
        LocalProviderOption selectedProvider, QString baseURL, std::optional<QString> token,
        std::shared_ptr<LocalHealthSource> source, std::optional<QUrl> downloadURL,
        std::optional<QUrl> launchURL,
        std::function<bool()> isHelperInstalled = &LocalModelsViewModel::defaultIsHelperInstalled,
        HelperLauncher launchHelper = &LocalModelsViewModel::defaultLaunchHelper, QObject *parent = nullptr);
    ~LocalModelsViewModel() override;

    const LocalHealthSummary &summary() const { return m_summary; }
    const ConnectionGuidance &guidance() const { return m_guidance; }
    const HelperAffordance &affordance() const { return m_affordance; }
    const std::optional<FetchError> &lastError() const { return m_lastError; }
    bool isRefreshing() const { return m_isRefreshing; }
    LocalProviderOption selectedProvider() const { return m_selectedProvider; }
    const QString &baseURL() const { return m_baseURL; }
    const std::optional<QString> &token() const { return m_token; }

    void selectProvider(LocalProviderOption option);
    // Takes the edited address: trimmed; "http://" is added when no scheme is written, and the local
    // server's default port when an http address names none (a bare "192.168.1.20" means the server there).
    // Updates the advice at once; the summary waits for the next refresh.
    Q_INVOKABLE void applyBaseURL(const QString &text);
    // Fetches a new summary. A blank address fails with baseURLMissing without asking anyone; an address the
    // client cannot use is baseURLMissing too; every other failure is transport with a sentence. A failure
    // clears the summary (a stale "reachable" would mislead). A newer refresh supersedes an older one still
    // waiting for its server: only the newest result is shown.
    QCoro::Task<> refresh();
    void refreshAffordance(bool isRunning);

    // QML side.
    QVariantList providerOptions() const;
    QString selectedProviderID() const { return rawValue(m_selectedProvider); }
    Q_INVOKABLE void selectProviderID(const QString &id);
    QString tokenText() const { return m_token.value_or(QString()); }
    void setTokenText(const QString &token);
    Q_INVOKABLE void requestRefresh();
    // Opens or installs the helper (the affordance's URL), then refreshes once the helper had a moment.
    Q_INVOKABLE void performHelperAction();
    bool isReachable() const { return m_summary.isReachable(); }
    QString reachabilityDetail() const;
    bool isProviderReady() const;
    QString providerDetail() const;
    bool requiresPairing() const { return m_summary.requiresPairing(); }
    QString pairingDetail() const;
    QString guidanceHeadline() const { return m_guidance.headlineCopy(); }
    QString guidanceDetail() const { return m_guidance.detailCopy(); }
    QString affordanceTitle() const { return m_affordance.buttonTitle(); }
    QString affordanceSymbol() const { return m_affordance.systemImage(); }
    QString affordanceText() const;
    bool affordanceActionable() const { return m_affordance.isActionable(); }
    QString errorText() const { return m_lastError ? m_lastError->text() : QString(); }
    // Refreshes finished so far (tests and the screen wait on it).
    int refreshCount() const { return m_refreshCount; }

Q_SIGNALS:
    void changed();

private:
    std::shared_ptr<LocalHealthSource> m_source;
    std::optional<QUrl> m_downloadURL;
    std::optional<QUrl> m_launchURL;
    std::function<bool()> m_isHelperInstalled;
    HelperLauncher m_launchHelper;

    LocalHealthSummary m_summary;
    ConnectionGuidance m_guidance;
    HelperAffordance m_affordance;
    std::optional<FetchError> m_lastError;
    bool m_isRefreshing = false;
    LocalProviderOption m_selectedProvider;
    QString m_baseURL;
    std::optional<QString> m_token;
    int m_generation = 0;
    int m_refreshCount = 0;
};

} // namespace rirudez
