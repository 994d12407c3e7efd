#include "rirudez/bridgekit/CertPinning.h"

#include <QAuthenticator>
#include <QCryptographicHash>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>

namespace rirudez {

namespace {

constexpr std::chrono::milliseconds pinnedTimeLimit{std::chrono::hours(12)};

// The leaf-first chain a socket or reply presented, read from the connection at the moment Qt reports the
// verification errors (Qt refreshes the peer certificates just before emitting sslErrors).
QList<QSslCertificate> presentedChain(const QSslConfiguration &configuration) {
    QList<QSslCertificate> chain = configuration.peerCertificateChain();
    const QSslCertificate leaf = configuration.peerCertificate();
    if (!leaf.isNull() && (chain.isEmpty() || chain.first() != leaf)) {
        chain.prepend(leaf);
    }
    return chain;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------

PinningDelegate::PinningDelegate(Mode mode) : m_mode(std::move(mode)) {}

std::optional<QString> PinningDelegate::seenFingerprint() const {
    QMutexLocker locker(&m_lock);
    return m_seenFingerprint;
}

void PinningDelegate::urlSession(const Challenge &challenge,
                                 const std::function<void(Disposition)> &completionHandler) {
    completionHandler(decide(challenge));
}

PinningDelegate::Disposition PinningDelegate::decide(const Challenge &challenge) {
    // Only the server's certificate is ever answered; any other kind of authentication is refused.
    if (challenge.method != AuthenticationMethod::serverTrust || !challenge.serverTrust) {
        return Disposition::cancelAuthenticationChallenge;
    }
    const std::optional<QString> fingerprint = CertPinning::fingerprint(*challenge.serverTrust);
    if (!fingerprint) {
        return Disposition::cancelAuthenticationChallenge;
    }
    {
        // Recorded before the comparison, so a refused certificate can be read back too.
        QMutexLocker locker(&m_lock);
        m_seenFingerprint = *fingerprint;
    }
    if (const Pin *pin = std::get_if<Pin>(&m_mode); pin && *fingerprint != pin->fingerprint) {
        return Disposition::cancelAuthenticationChallenge;
    }
    return Disposition::useCredential;
}

// ---------------------------------------------------------------------------------------------------------------

URLSession::URLSession(Configuration configuration, std::shared_ptr<PinningDelegate> delegate)
    : m_configuration(configuration), m_delegate(std::move(delegate)) {}

URLSession::~URLSession() = default;

std::shared_ptr<URLSession> URLSession::shared() {
    // Kept alive only as long as someone uses it, so no QObject outlives the application object.
    static std::weak_ptr<URLSession> shared;
    std::shared_ptr<URLSession> session = shared.lock();
    if (!session) {
        session = std::make_shared<URLSession>();
        shared = session;
    }
    return session;
}

QSslConfiguration URLSession::sslConfiguration() const {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (m_delegate) {
        // No authority can vouch for anything: every certificate fails verification and reaches sslErrors,
        // where the delegate alone decides.
        configuration.setCaCertificates({});
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    }
    // A resumed TLS session could skip the certificate; every handshake must present one.
    configuration.setSslOption(QSsl::SslOptionDisableSessionTickets, true);
    configuration.setSslOption(QSsl::SslOptionDisableSessionSharing, true);
    configuration.setSslOption(QSsl::SslOptionDisableSessionPersistence, true);
    return configuration;
}

QWebSocket *URLSession::makeWebSocket(QObject *parent) const {
    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, parent);
    socket->setSslConfiguration(sslConfiguration());
    if (m_delegate) {
        std::shared_ptr<PinningDelegate> delegate = m_delegate;
        QObject::connect(
            socket, &QWebSocket::sslErrors, socket, [socket, delegate](const QList<QSslError> &) {
                PinningDelegate::Challenge challenge;
                challenge.serverTrust = presentedChain(socket->sslConfiguration());
                delegate->urlSession(challenge, [socket](PinningDelegate::Disposition disposition) {
                    if (disposition == PinningDelegate::Disposition::useCredential) {
                        socket->ignoreSslErrors();
                    }
                });
            });
    }
    return socket;
}

QNetworkAccessManager *URLSession::manager() {
    if (!m_manager) {
        m_manager = std::make_unique<QNetworkAccessManager>();
        // Ephemeral: no cache; cookies and credentials are switched off per request (prepare()).
        m_manager->setCache(nullptr);
        m_manager->setAutoDeleteReplies(false);
        if (m_delegate) {
            // HTTP authentication is never answered: the request ends with the server's status.
            std::shared_ptr<PinningDelegate> delegate = m_delegate;
            QObject::connect(m_manager.get(), &QNetworkAccessManager::authenticationRequired, m_manager.get(),
                             [delegate](QNetworkReply *, QAuthenticator *) {
                                 PinningDelegate::Challenge challenge;
                                 challenge.method = PinningDelegate::AuthenticationMethod::httpBasic;
                                 delegate->decide(challenge);
                             });
        }
    }
    return m_manager.get();
}

QNetworkRequest URLSession::prepare(QNetworkRequest request) const {
    request.setSslConfiguration(sslConfiguration());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    if (request.transferTimeout() == 0 && m_configuration.timeoutIntervalForRequest) {
        request.setTransferTimeout(int(m_configuration.timeoutIntervalForRequest->count()));
    }
    return request;
}

void URLSession::attach(QNetworkReply *reply) const {
    if (m_delegate) {
        std::shared_ptr<PinningDelegate> delegate = m_delegate;
        QObject::connect(reply, &QNetworkReply::sslErrors, reply,
                         [reply, delegate](const QList<QSslError> &) {
                             PinningDelegate::Challenge challenge;
                             challenge.serverTrust = presentedChain(reply->sslConfiguration());
                             if (delegate->decide(challenge) == PinningDelegate::Disposition::useCredential) {
                                 reply->ignoreSslErrors();
                             }
                         });
    }
    if (m_configuration.timeoutIntervalForResource) {
        auto *timer = new QTimer(reply);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
        timer->start(*m_configuration.timeoutIntervalForResource);
    }
}

QNetworkReply *URLSession::get(QNetworkRequest request) {
    QNetworkReply *reply = manager()->get(prepare(std::move(request)));
    attach(reply);
    return reply;
}

QNetworkReply *URLSession::post(QNetworkRequest request, const QByteArray &body) {
    QNetworkReply *reply = manager()->post(prepare(std::move(request)), body);
    attach(reply);
    return reply;
}

void URLSession::clearConnectionCache() {
    if (m_manager) {
        m_manager->clearConnectionCache();
    }
}

// ---------------------------------------------------------------------------------------------------------------

namespace CertPinning {

std::optional<QString> fingerprint(const QSslCertificate &leaf) {
    if (leaf.isNull()) {
        return std::nullopt;
    }
    const QByteArray der = leaf.toDer();
    if (der.isEmpty()) {
        return std::nullopt;
    }
    return QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex());
}

std::optional<QString> fingerprint(const QList<QSslCertificate> &chain) {
    if (chain.isEmpty()) {
        return std::nullopt;
    }
    return fingerprint(chain.first());
}

std::shared_ptr<URLSession> pinnedSession(const QString &fingerprint) {
    URLSession::Configuration configuration;
    configuration.timeoutIntervalForRequest = pinnedTimeLimit;
    configuration.timeoutIntervalForResource = pinnedTimeLimit;
    return std::make_shared<URLSession>(
        configuration, std::make_shared<PinningDelegate>(PinningDelegate::Pin{fingerprint.toLower()}));
}

std::pair<std::shared_ptr<URLSession>, std::shared_ptr<PinningDelegate>> tofuSession() {
    auto delegate = std::make_shared<PinningDelegate>(PinningDelegate::TrustOnFirstUse{});
    return {std::make_shared<URLSession>(URLSession::Configuration{}, delegate), delegate};
}

} // namespace CertPinning

} // namespace rirudez
