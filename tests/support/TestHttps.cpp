#include "TestHttps.h"

#include "InProcessBridge.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

#include <memory>

namespace rirudez::testing {

HttpsAnswer httpsRequest(const QByteArray &method, const QString &url, const QString &fingerprint,
                         const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &body,
                         std::chrono::milliseconds deadline) {
    ensureCoreApplication();
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates({});
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    request.setSslConfiguration(tls);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));

    HttpsAnswer answer;
    std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, method, body));
    const QString pin = fingerprint.toLower();
    QObject::connect(reply.get(), &QNetworkReply::sslErrors, reply.get(), [&](const QList<QSslError> &) {
        const QSslCertificate leaf = reply->sslConfiguration().peerCertificate();
        const QString seen =
            leaf.isNull() ? QString() : QString::fromLatin1(leaf.digest(QCryptographicHash::Sha256).toHex());
        if (!seen.isEmpty() && seen == pin)
            reply->ignoreSslErrors();
        else
            answer.pinRefused = true;
    });
    if (!reply->isFinished()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        timer.start(deadline);
        loop.exec();
    }
    if (!reply->isFinished()) {
        answer.error = QStringLiteral("timed out");
        reply->abort();
        return answer;
    }
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.headers = reply->rawHeaderPairs();
    if (reply->error() != QNetworkReply::NoError)
        answer.error = reply->errorString();
    return answer;
}

} // namespace rirudez::testing
