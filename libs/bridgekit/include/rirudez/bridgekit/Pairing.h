#pragma once

// Everything the client needs to reach one bridge, and the pair link that carries it.

#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

namespace rirudez {

struct Pairing {
    QString host;              // host name or address of the bridge
    int port = 0;              // TCP port; 1 to 65535 when parsed from a link
    QString token;             // bearer token the bridge accepts
    std::optional<QString> fp; // SHA-256 fingerprint of the leaf certificate, 64 lower-case hex digits

    // The URL scheme of pair links.
    static constexpr QStringView canonicalScheme{u"doduzadod"};

    // "wss://" host ":" port "/ws", or nothing when that text is not a valid URL of exactly that shape
    // (a host with characters that cannot stand in a URL, or that would move the port or the path).
    std::optional<QUrl> wsURL() const;
    // "https://" host ":" port, or nothing under the same rule.
    std::optional<QUrl> httpBase() const;
    // host ":" port. Never contains the token or the fingerprint, so it is safe for logs and labels.
    QString description() const;

    // Reads a pair link:
    //   scheme "://pair?host=" host "&port=" port "&token=" token ["&fp=" fingerprint]
    // Surrounding whitespace is ignored. The scheme must be `canonicalScheme` or, when given, `appScheme`,
    // compared case-sensitively. Query values are percent-decoded; only the first item of a name counts, and
    // an empty first item counts as missing. A malformed link yields nothing: the caller words the problem.
    static std::optional<Pairing> parse(const QString &text, const std::optional<QString> &appScheme = {});

    // The pair link of this pairing with the given scheme. Host, token and fingerprint are written as they
    // are, without percent-encoding; "&fp=" appears only when there is a fingerprint.
    QString url(const QString &scheme) const;

    bool operator==(const Pairing &) const = default;
};

} // namespace rirudez
