#pragma once

// The link that tells a client where a local control plane server is and which pairing code to present:
//   rirudez://local-pair?host=<host>&port=<port>&code=<code>
// A link is always fully valid: trimmed non-empty host and code, a positive port.

#include <QString>
#include <QStringView>
#include <QUrl>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace rirudez {

class RirudezLocalPairingLink {
public:
    class Error : public std::exception {
    public:
        // In the order the cases are declared; parsing checks them in the order documented on parse().
        enum class Kind {
            invalidScheme,    // payload: the scheme found, if any
            invalidRoute,     // payload: the URL's host part, if any
            invalidPort,      // payload: the port text as found
            nonPositivePort,  // payload: the port
            invalidURLString, // the text cannot be split into URL components
            missingHost,
            missingCode,
            missingPort,
        };

        static Error invalidScheme(std::optional<QString> scheme);
        static Error invalidRoute(std::optional<QString> route);
        static Error invalidPort(QString text);
        static Error nonPositivePort(std::int64_t port);
        static Error invalidURLString();
        static Error missingHost();
        static Error missingCode();
        static Error missingPort();

        Kind kind() const { return m_kind; }
        // The text payload of invalidScheme, invalidRoute and invalidPort.
        const std::optional<QString> &text() const { return m_text; }
        // The payload of nonPositivePort.
        std::int64_t port() const { return m_port; }
        // Case and payload, e.g. invalidPort(" 80") or invalidScheme(nil).
        QString diagnosticText() const;
        const char *what() const noexcept override { return m_what.c_str(); }

        friend bool operator==(const Error &a, const Error &b) {
            return a.m_kind == b.m_kind && a.m_text == b.m_text && a.m_port == b.m_port;
        }

    private:
        Error(Kind kind, std::optional<QString> text, std::int64_t port);
        Kind m_kind;
        std::optional<QString> m_text;
        std::int64_t m_port = 0;
        std::string m_what;
    };

    static constexpr QStringView scheme{u"rirudez"};
    static constexpr QStringView route{u"local-pair"};
    static constexpr QStringView hostQueryField{u"host"};
    static constexpr QStringView portQueryField{u"port"};
    static constexpr QStringView codeQueryField{u"code"};

    // Validating constructor: trims host and code; throws missingHost, missingCode, then nonPositivePort.
    RirudezLocalPairingLink(const QString &host, std::int64_t port, const QString &pairingCode);

    // Parses link text (trimmed first). Checks, in order: the text splits into URL components
    // (invalidURLString); the scheme is "rirudez" ignoring case (invalidScheme); the host part is
    // "local-pair" ignoring case (invalidRoute); then the first query items named exactly "host"
    // (missingHost when absent or blank), "code" (missingCode), "port" (missingPort when absent or empty,
    // invalidPort when the untrimmed text is not a signed 64-bit decimal with an optional sign); finally the
    // validating constructor. Path, fragment, user and URL port are ignored. Throws Error.
    static RirudezLocalPairingLink parse(const QString &text);
    // The same for a URL value (not trimmed, not resolved against a base).
    static RirudezLocalPairingLink parse(const QUrl &url);

    const QString &host() const { return m_host; }
    std::int64_t port() const { return m_port; }
    const QString &pairingCode() const { return m_pairingCode; }

    // rirudez://local-pair?host=…&port=…&code=… with the values percent-encoded as query components.
    QUrl url() const;
    // "http://" host ":" port; a host containing ":" and not starting with "[" is put in brackets (IPv6).
    QString localServerBaseURLString() const;

    bool operator==(const RirudezLocalPairingLink &) const = default;

private:
    QString m_host;
    std::int64_t m_port;
    QString m_pairingCode;
};

} // namespace rirudez
