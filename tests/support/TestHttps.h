#pragma once

// One HTTPS request to a bridge from a test, pinned to a certificate fingerprint, on a fresh
// QNetworkAccessManager (so no pooled connection skips the pin), waited for with a deadline.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <chrono>

namespace rirudez::testing {

struct HttpsAnswer {
    int status = 0; // 0 when no HTTP answer came (TLS refused, timeout, connection error)
    QByteArray body;
    QString error;           // the transport error, if any
    bool pinRefused = false; // the certificate did not match the pin
    QList<QPair<QByteArray, QByteArray>> headers;
};

HttpsAnswer httpsRequest(const QByteArray &method, const QString &url, const QString &fingerprint,
                         const QList<QPair<QByteArray, QByteArray>> &headers = {},
                         const QByteArray &body = {},
                         std::chrono::milliseconds deadline = std::chrono::seconds(5));

} // namespace rirudez::testing
