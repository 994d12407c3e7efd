#include "rirudez/localcontrolplane/LocalHealthClient.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QUrl>

#include <coroutine>
#include <utility>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

// Health requests to the local server that fail. The token never appears.
Q_LOGGING_CATEGORY(lcLocalHealth, "rirudez.localcontrolplane.health")

constexpr int timeoutMilliseconds = 60'000;

// Suspends until a reply finished or was destroyed (its manager went away). Resumes exactly once, from the
// event loop, never inline from the signal.
class ReplyDone {
public:
    explicit ReplyDone(QNetworkReply *reply) : m_reply(reply) {}

    bool await_ready() const { return !m_reply || m_reply->isFinished(); }
    void await_suspend(std::coroutine_handle<> handle) {
        auto resumed = std::make_shared<bool>(false);
        auto resumeOnce = [handle, resumed] {
            if (std::exchange(*resumed, true))
                return;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
        };
        QObject::connect(m_reply, &QNetworkReply::finished, m_reply, resumeOnce);
        QObject::connect(m_reply, &QObject::destroyed, QCoreApplication::instance(), resumeOnce);
    }
    void await_resume() const {}

private:
    QPointer<QNetworkReply> m_reply;
};

} // namespace

LocalTransportError::LocalTransportError(QNetworkReply::NetworkError code, QString message)
    : m_code(code), m_message(std::move(message)), m_what(m_message.toStdString()) {}

LocalHealthClient::Error::Error(Kind kind, int status) : m_kind(kind), m_status(status) {
    m_what = diagnosticText().toStdString();
}

QString LocalHealthClient::Error::diagnosticText() const {
    switch (m_kind) {
    case Kind::unacceptableStatus:
        return u"unacceptableStatus(%1)"_s.arg(m_status);
    case Kind::invalidBaseURL:
        return u"invalidBaseURL"_s;
    case Kind::nonHTTPResponse:
        return u"nonHTTPResponse"_s;
    }
    return {};
}

LocalHealthClient::LocalHealthClient(std::shared_ptr<QNetworkAccessManager> session, Decoder decoder)
    : m_session(std::move(session)), m_decoder(std::move(decoder)) {
    if (!m_decoder)
        m_decoder = [](QByteArrayView bytes) { return LocalServerHealth::decode(bytes); };
}

QNetworkRequest LocalHealthClient::makeRequest(const QString &baseURL, const std::optional<QString> &token) {
    QString base = baseURL.trimmed();
    if (base.isEmpty())
        throw Error::invalidBaseURL();
    if (base.endsWith(u'/'))
        base.chop(1);
    const QUrl url(base + u"/health"_s, QUrl::StrictMode);
    if (!url.isValid())
        throw Error::invalidBaseURL();

    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMilliseconds);
    request.setRawHeader("Accept", "application/json");
    if (token) {
        const QString trimmed = token->trimmed();
        if (!trimmed.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + trimmed.toUtf8());
    }
    return request;
}

QCoro::Task<LocalServerHealth> LocalHealthClient::fetch(QString baseURL, std::optional<QString> token) const {
    // Everything this call needs is copied into the coroutine: the client may be gone when the answer comes.
    const QNetworkRequest request = makeRequest(baseURL, token);
    const std::shared_ptr<QNetworkAccessManager> session = m_session;
    const Decoder decoder = m_decoder;

    QPointer<QNetworkReply> reply = session->get(request);
    // A body larger than the limit is cut off instead of being buffered whole.
    const auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(reply.data(), &QNetworkReply::downloadProgress, reply.data(),
                     [reply, tooLarge](qint64 received, qint64) {
                         if (received > maxBodyBytes && reply) {
                             *tooLarge = true;
                             reply->abort();
                         }
                     });
    co_await ReplyDone(reply.data());
    if (!reply)
        throw LocalTransportError(QNetworkReply::OperationCanceledError, u"the request was cancelled"_s);
    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owned(
        reply.data(), [](QNetworkReply *r) { r->deleteLater(); });
    if (*tooLarge)
        throw LocalTransportError(QNetworkReply::UnknownContentError,
                                  u"the health answer is larger than %1 bytes"_s.arg(maxBodyBytes));

    // The host and port only: the token is a header, and the address is never printed whole.
    const QString where = request.url().host() + u':' + QString::number(request.url().port());
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        qCInfo(lcLocalHealth).noquote() << "no HTTP answer from" << where << ":" << reply->errorString();
        if (reply->error() != QNetworkReply::NoError)
            throw LocalTransportError(reply->error(), reply->errorString());
        throw Error::nonHTTPResponse();
    }
    const int code = status.toInt();
    if (code < 200 || code > 299) {
        qCInfo(lcLocalHealth).noquote() << where << "answered HTTP" << code;
        throw Error::unacceptableStatus(code);
    }
    const QByteArray body = reply->readAll();
    DecodeResult<LocalServerHealth> health = decoder(body);
    if (!health)
        throw health.error();
    co_return *health;
}

} // namespace rirudez
