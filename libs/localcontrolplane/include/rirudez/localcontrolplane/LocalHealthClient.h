#pragma once

// Asks a local control plane server for its health document: GET base URL + "/health" with
// "Accept: application/json" and, when a non-blank token is given, "Authorization: Bearer <trimmed token>";
// 60-second time limit. Holds no state between calls.

#include "rirudez/localcontrolplane/LocalServerHealth.h"

#include <QCoroTask>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QNetworkAccessManager;

namespace rirudez {

// The transport failed: no connection, a timeout, a reset, an unsupported scheme. Carries Qt's code and text.
class LocalTransportError : public std::exception {
public:
    LocalTransportError(QNetworkReply::NetworkError code, QString message);
    QNetworkReply::NetworkError code() const { return m_code; }
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    QNetworkReply::NetworkError m_code;
    QString m_message;
    std::string m_what;
};

class LocalHealthClient {
public:
    class Error : public std::exception {
    public:
        enum class Kind { unacceptableStatus, invalidBaseURL, nonHTTPResponse };

        static Error unacceptableStatus(int status) { return Error(Kind::unacceptableStatus, status); }
        static Error invalidBaseURL() { return Error(Kind::invalidBaseURL, 0); }
        static Error nonHTTPResponse() { return Error(Kind::nonHTTPResponse, 0); }

        Kind kind() const { return m_kind; }
        // The HTTP status of unacceptableStatus (0 for the other cases).
        int status() const { return m_status; }
        // Case and payload, e.g. unacceptableStatus(404).
        QString diagnosticText() const;
        const char *what() const noexcept override { return m_what.c_str(); }

        friend bool operator==(const Error &a, const Error &b) {
            return a.m_kind == b.m_kind && a.m_status == b.m_status;
        }

    private:
        Error(Kind kind, int status);
        Kind m_kind;
        int m_status;
        std::string m_what;
    };

    using Decoder = std::function<DecodeResult<LocalServerHealth>(QByteArrayView)>;

    // Largest health body read; a longer answer fails as a transport error.
    static constexpr qint64 maxBodyBytes = 1 << 20;

    // `session` performs the requests (shared, so a fetch keeps it alive while it runs); `decoder` reads the
    // body, LocalServerHealth::decode by default.
    explicit LocalHealthClient(std::shared_ptr<QNetworkAccessManager> session, Decoder decoder = {});

    // The health request for `baseURL`: trimmed, one trailing "/" removed, "/health" appended. Throws
    // Error::invalidBaseURL when the base URL is blank or the result is not a valid URL.
    static QNetworkRequest makeRequest(const QString &baseURL, const std::optional<QString> &token);

    // Performs the request and decodes the answer. Throws Error (invalidBaseURL before any network activity,
    // unacceptableStatus for a status outside 200-299 whatever the body, nonHTTPResponse), the transport's
    // LocalTransportError, or the decoder's JsonDecodingError.
    QCoro::Task<LocalServerHealth> fetch(QString baseURL, std::optional<QString> token) const;

private:
    std::shared_ptr<QNetworkAccessManager> m_session;
    Decoder m_decoder;
};

} // namespace rirudez
