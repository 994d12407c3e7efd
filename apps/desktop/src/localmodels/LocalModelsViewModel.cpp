#include "LocalModelsViewModel.h"

#include "DesktopTask.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QVariantMap>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

// Refreshes of the local server's health that fail. The token never appears.
Q_LOGGING_CATEGORY(lcDesktopLocalModels, "rirudez.desktop.localmodels")

const QString helperName = u"rirudez-local-server"_s;
// How long a freshly opened helper gets before the screen asks it again.
constexpr int helperStartDelayMs = 800;

// The sentence for a failed refresh. The token never appears in it.
QString describe(const std::exception &error) {
    if (const auto *client = dynamic_cast<const LocalHealthClient::Error *>(&error)) {
        switch (client->kind()) {
        case LocalHealthClient::Error::Kind::unacceptableStatus:
            if (client->status() == 401 || client->status() == 403)
                return u"The server refused the request (HTTP %1). Check the token."_s.arg(client->status());
            if (client->status() == 404)
                return u"The server answered HTTP 404: this address has no health endpoint. Is it the local "
                       u"server's address?"_s;
            return u"The server answered with HTTP status %1."_s.arg(client->status());
        case LocalHealthClient::Error::Kind::nonHTTPResponse:
            return u"The address did not answer over HTTP."_s;
        case LocalHealthClient::Error::Kind::invalidBaseURL:
            break;
        }
    }
    if (const auto *transport = dynamic_cast<const LocalTransportError *>(&error))
        return u"Could not reach the server: %1."_s.arg(transport->message());
    if (const auto *decoding = dynamic_cast<const JsonDecodingError *>(&error))
        return u"The server's answer is not a health document (%1)."_s.arg(decoding->diagnosticText());
    return u"The refresh failed: %1"_s.arg(QString::fromUtf8(error.what()));
}

} // namespace

QString LocalModelsViewModel::FetchError::text() const {
    if (const auto *transport = std::get_if<Transport>(&m_value))
        return transport->message;
    return u"Enter the server's address to check it."_s;
}

std::optional<QUrl> LocalModelsViewModel::installedHelperURL() {
    QString path = QStandardPaths::findExecutable(helperName);
    if (path.isEmpty() && QCoreApplication::instance())
        path = QStandardPaths::findExecutable(helperName, {QCoreApplication::applicationDirPath()});
    if (path.isEmpty())
        return std::nullopt;
    return QUrl::fromLocalFile(path);
}

bool LocalModelsViewModel::defaultIsHelperInstalled() {
    return installedHelperURL().has_value();
}

bool LocalModelsViewModel::defaultLaunchHelper(const QUrl &url) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isExecutable())
        return QProcess::startDetached(url.toLocalFile(), {});
    return QDesktopServices::openUrl(url);
}

LocalModelsViewModel::LocalModelsViewModel(LocalProviderOption selectedProvider, QString baseURL,
                                           std::optional<QString> token,
                                           std::shared_ptr<LocalHealthSource> source,
                                           std::optional<QUrl> downloadURL, std::optional<QUrl> launchURL,
                                           std::function<bool()> isHelperInstalled,
                                           HelperLauncher launchHelper, QObject *parent)
    : QObject(parent), m_source(std::move(source)), m_downloadURL(std::move(downloadURL)),
      m_launchURL(std::move(launchURL)), m_isHelperInstalled(std::move(isHelperInstalled)),
      m_launchHelper(std::move(launchHelper)), m_selectedProvider(selectedProvider),
      m_baseURL(std::move(baseURL)), m_token(std::move(token)) {
    m_guidance = ConnectionGuidance::derive(m_baseURL);
    refreshAffordance(false);
}

LocalModelsViewModel::~LocalModelsViewModel() = default;

void LocalModelsViewModel::selectProvider(LocalProviderOption option) {
    if (option == m_selectedProvider)
        return;
    m_selectedProvider = option;
    Q_EMIT changed();
}

void LocalModelsViewModel::selectProviderID(const QString &id) {
    if (const auto option = localProviderOptionFromRaw(id))
        selectProvider(*option);
}

void LocalModelsViewModel::applyBaseURL(const QString &text) {
    QString address = text.trimmed();
    if (!address.isEmpty() && !address.contains(u"://"_s))
        address.prepend(u"http://"_s);
    if (!address.isEmpty()) {
        QUrl url(address, QUrl::StrictMode);
        if (url.isValid() && !url.host().isEmpty() && url.port() == -1 &&
            url.scheme().compare(u"http"_s, Qt::CaseInsensitive) == 0) {
            url.setPort(ConnectionGuidance::defaultServerPort);
            address = url.toString(QUrl::FullyEncoded);
        }
    }
    m_baseURL = address;
    m_guidance = ConnectionGuidance::derive(m_baseURL);
    Q_EMIT changed();
}

void LocalModelsViewModel::setTokenText(const QString &token) {
    const std::optional<QString> value = token.isEmpty() ? std::nullopt : std::optional<QString>(token);
    if (value == m_token)
        return;
    m_token = value;
    Q_EMIT changed();
}

QCoro::Task<> LocalModelsViewModel::refresh() {
    const int generation = ++m_generation;
    const QString baseURL = m_baseURL;
    const std::optional<QString> token = m_token;
    m_guidance = ConnectionGuidance::derive(baseURL);

    std::optional<LocalHealthSummary> fetched;
    std::optional<FetchError> error;
    if (baseURL.trimmed().isEmpty()) {
        error = FetchError::baseURLMissing();
    } else {
        m_isRefreshing = true;
        Q_EMIT changed();
        // The source is kept alive by this call even if the view model goes away meanwhile.
        const std::shared_ptr<LocalHealthSource> source = m_source;
        QCoro::Task<std::optional<DesktopTaskOutcome<LocalHealthSummary>>> fetching =
            guardedTask(this, source->fetchSummary(baseURL, token));
        const std::optional<DesktopTaskOutcome<LocalHealthSummary>> outcome = co_await fetching;
        if (!outcome || generation != m_generation)
            co_return; // gone, or superseded by a newer refresh
        fetched = outcome->value;
        if (outcome->failure)
            error = visitFailure<std::exception>(
                outcome->failure,
                [](const std::exception &failure) {
                    const auto *client = dynamic_cast<const LocalHealthClient::Error *>(&failure);
                    return client && client->kind() == LocalHealthClient::Error::Kind::invalidBaseURL
                               ? FetchError::baseURLMissing()
                               : FetchError::transport(describe(failure));
                },
                [] { return FetchError::transport(u"The refresh failed for an unknown reason."_s); });
    }
    if (error)
        qCInfo(lcDesktopLocalModels).noquote() << "the local server's health is unknown:" << error->text();
    m_summary = fetched.value_or(LocalHealthSummary());
    m_lastError = error;
    m_isRefreshing = false;
    ++m_refreshCount;
    refreshAffordance(m_summary.isReachable());
    Q_EMIT changed();
}

void LocalModelsViewModel::requestRefresh() {
    // refresh() catches every failure, so nothing escapes into the event loop.
    startDetached(refresh());
}

void LocalModelsViewModel::refreshAffordance(bool isRunning) {
    const bool installed = m_isHelperInstalled ? m_isHelperInstalled() : false;
    m_affordance = HelperAffordance::derive(installed, isRunning, m_downloadURL, m_launchURL);
    Q_EMIT changed();
}

void LocalModelsViewModel::performHelperAction() {
    const std::optional<QUrl> url = m_affordance.url();
    if (!m_affordance.isActionable() || !url || !m_launchHelper)
        return;
    if (!m_launchHelper(*url)) {
        m_lastError = FetchError::transport(u"Could not open %1."_s.arg(url->toDisplayString()));
        Q_EMIT changed();
        return;
    }
    if (m_affordance.is<HelperAffordance::OpenHelper>()) {
        QPointer<LocalModelsViewModel> self(this);
        QTimer::singleShot(helperStartDelayMs, this, [self] {
            if (self)
                self->requestRefresh();
        });
    }
}

QVariantList LocalModelsViewModel::providerOptions() const {
    QVariantList options;
    for (const LocalProviderOption option : allLocalProviderOptions())
        options.append(QVariantMap{
            {u"id"_s, rawValue(option)}, {u"title"_s, title(option)}, {u"subtitle"_s, subtitle(option)}});
    return options;
}

QString LocalModelsViewModel::reachabilityDetail() const {
    if (!m_summary.isReachable())
        return m_isRefreshing ? u"Checking…"_s : u"Not reached yet."_s;
    QString text = m_summary.service.value_or(u"Local server"_s);
    if (m_summary.version)
        text += u' ' + *m_summary.version;
    return text;
}

// Ready when the server uses the provider picked here and its account is signed in.
bool LocalModelsViewModel::isProviderReady() const {
    return m_summary.isReachable() && m_summary.providerAuthenticated &&
           m_summary.providerIdentifier == controlPlaneIdentifier(m_selectedProvider);
}

QString LocalModelsViewModel::providerDetail() const {
    const QString picked = title(m_selectedProvider);
    if (!m_summary.isReachable())
        return u"Uses %1 once the server is reachable."_s.arg(picked);
    const auto reported = m_summary.providerIdentifier;
    if (!reported)
        return u"The server does not say which provider it uses."_s;
    const auto option = localProviderOptionFromControlPlaneIdentifier(*reported);
    if (option != m_selectedProvider)
        return u"The server uses %1, not %2. Restart it with --provider %3."_s.arg(
            option ? title(*option) : *reported, picked, controlPlaneIdentifier(m_selectedProvider));
    if (!m_summary.providerAuthenticated)
        return u"%1 is not signed in on the server's computer. Sign in with its command-line tool."_s.arg(
            picked);
    return m_summary.providerAccountLabel.value_or(u"Signed in"_s);
}

QString LocalModelsViewModel::pairingDetail() const {
    if (m_summary.pairingCode)
        return u"Enter code %1 on the tablet to pair."_s.arg(*m_summary.pairingCode);
    return u"The server asks for pairing; start pairing on the tablet."_s;
}

QString LocalModelsViewModel::affordanceText() const {
    if (m_affordance.is<HelperAffordance::HelperRunning>())
        return u"The local server answers at this address."_s;
    if (m_affordance.is<HelperAffordance::OpenHelper>())
        return u"The local server helper is installed on this computer but does not answer yet."_s;
    return m_affordance.isActionable()
               ? u"The local server helper is not installed on this computer."_s
               : u"The local server helper is not installed. Install rirudez-local-server, or start the "
                 u"companion's own server."_s;
}

} // namespace rirudez
