#include "rirudez/localcontrolplane/RirudezLocalPairingLink.h"

#include <QUrlQuery>

#include <limits>

namespace rirudez {
using namespace Qt::StringLiterals;

using Kind = RirudezLocalPairingLink::Error::Kind;

RirudezLocalPairingLink::Error::Error(Kind kind, std::optional<QString> text, std::int64_t port)
    : m_kind(kind), m_text(std::move(text)), m_port(port) {
    m_what = diagnosticText().toStdString();
}

// clang-format off
RirudezLocalPairingLink::Error RirudezLocalPairingLink::Error::invalidScheme(std::optional<QString> s) { return {Kind::invalidScheme, std::move(s), 0}; }
RirudezLocalPairingLink::Error RirudezLocalPairingLink::Error::invalidRoute(std::optional<QString> r) { return {Kind::invalidRoute, std::move(r), 0}; }
RirudezLocalPairingLink::Error RirudezLocalPairingLink::Error::invalidPort(QString text) { return {Kind::invalidPort, std::move(text), 0}; }
RirudezLocalPairingLink::Error RirudezLocalPairingLink::Error::nonPositivePort(std::int64_t port) { return {Kind::nonPositivePort, std::nullopt, port}; }
RirudezLocalPairingLink::Error RirudezLocalPairingLink::Error::invalidURLString() { return {Kind::invalidURLString, std::nullopt, 0}; }
RirudezLocalPairingLink::Error RirudezLocalPairingLink::Error::missingHost() { return {Kind::missingHost, std::nullopt, 0}; }
RirudezLocalPairingLink::Error RirudezLocalPairingLink::Error::missingCode() { return {Kind::missingCode, std::nullopt, 0}; }
RirudezLocalPairingLink::Error RirudezLocalPairingLink::Error::missingPort() { return {Kind::missingPort, std::nullopt, 0}; }
// clang-format on

QString RirudezLocalPairingLink::Error::diagnosticText() const {
    const auto quoted = [this] { return m_text ? u'"' + *m_text + u'"' : u"nil"_s; };
    switch (m_kind) {
    case Kind::invalidScheme:
        return u"invalidScheme(%1)"_s.arg(quoted());
    case Kind::invalidRoute:
        return u"invalidRoute(%1)"_s.arg(quoted());
    case Kind::invalidPort:
        return u"invalidPort(%1)"_s.arg(quoted());
    case Kind::nonPositivePort:
        return u"nonPositivePort(%1)"_s.arg(m_port);
    case Kind::invalidURLString:
        return u"invalidURLString"_s;
    case Kind::missingHost:
        return u"missingHost"_s;
    case Kind::missingCode:
        return u"missingCode"_s;
    case Kind::missingPort:
        return u"missingPort"_s;
    }
    return {};
}

namespace {

// A base-10 signed 64-bit integer: an optional "+" or "-", then ASCII digits only (no spaces).
std::optional<std::int64_t> parseInteger(QStringView text) {
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    // Accumulate negatively so that the minimum of the range fits as well.
    std::int64_t value = 0;
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == min)
        return std::nullopt;
    return -value;
}

// The value of the first query item with exactly that name; nothing when there is none.
std::optional<QString> firstItem(const QList<std::pair<QString, QString>> &items, QStringView name) {
    for (const auto &[key, value] : items)
        if (key == name)
            return value;
    return std::nullopt;
}

// The scheme and host part as written (QUrl lower-cases both; the errors report what the link says).
struct RawParts {
    std::optional<QString> scheme;
    std::optional<QString> host;
};

RawParts rawParts(const QString &text, const QUrl &url) {
    RawParts parts;
    if (!url.scheme().isEmpty()) {
        const qsizetype colon = text.indexOf(u':');
        parts.scheme = colon > 0 ? text.left(colon) : url.scheme();
    }
    if (!url.host().isEmpty() || url.authority().size() > 0) {
        QString host = url.host(QUrl::FullyDecoded);
        // The authority as written: after "scheme://", up to "/", "?" or "#"; the host follows any user info.
        const qsizetype start = text.indexOf(u"://"_s);
        if (start >= 0) {
            QStringView authority = QStringView(text).mid(start + 3);
            for (qsizetype i = 0; i < authority.size(); ++i) {
                if (authority[i] == u'/' || authority[i] == u'?' || authority[i] == u'#') {
                    authority = authority.left(i);
                    break;
                }
            }
            QStringView raw = authority.mid(authority.lastIndexOf(u'@') + 1);
            if (!raw.startsWith(u'[')) {
                if (const qsizetype colon = raw.indexOf(u':'); colon >= 0)
                    raw = raw.left(colon);
            }
            if (raw.compare(host, Qt::CaseInsensitive) == 0)
                host = raw.toString();
        }
        if (!host.isEmpty())
            parts.host = host;
    }
    return parts;
}

RirudezLocalPairingLink fromComponents(const QString &text, const QUrl &url) {
    if (!url.isValid())
        throw RirudezLocalPairingLink::Error::invalidURLString();
    const RawParts raw = rawParts(text, url);
    if (!raw.scheme || raw.scheme->compare(RirudezLocalPairingLink::scheme, Qt::CaseInsensitive) != 0)
        throw RirudezLocalPairingLink::Error::invalidScheme(raw.scheme);
    if (!raw.host || raw.host->compare(RirudezLocalPairingLink::route, Qt::CaseInsensitive) != 0)
        throw RirudezLocalPairingLink::Error::invalidRoute(raw.host);

    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    const auto host = firstItem(items, RirudezLocalPairingLink::hostQueryField);
    if (!host || host->trimmed().isEmpty())
        throw RirudezLocalPairingLink::Error::missingHost();
    const auto code = firstItem(items, RirudezLocalPairingLink::codeQueryField);
    if (!code || code->trimmed().isEmpty())
        throw RirudezLocalPairingLink::Error::missingCode();
    const auto portText = firstItem(items, RirudezLocalPairingLink::portQueryField);
    if (!portText || portText->isEmpty())
        throw RirudezLocalPairingLink::Error::missingPort();
    const auto port = parseInteger(*portText);
    if (!port)
        throw RirudezLocalPairingLink::Error::invalidPort(*portText);
    return RirudezLocalPairingLink(*host, *port, *code);
}

// Percent-encodes a query value: everything but unreserved characters and ":", "/", "?" and "@" (allowed in
// a query, harmless in a value), so "&", "=", "#", "+", "%" and spaces cannot split or change an item.
QByteArray queryValue(const QString &value) {
    return QUrl::toPercentEncoding(value, ":/?@");
}

} // namespace

RirudezLocalPairingLink::RirudezLocalPairingLink(const QString &host, std::int64_t port,
                                                 const QString &pairingCode)
    : m_host(host.trimmed()), m_port(port), m_pairingCode(pairingCode.trimmed()) {
    if (m_host.isEmpty())
        throw Error::missingHost();
    if (m_pairingCode.isEmpty())
        throw Error::missingCode();
    if (m_port <= 0)
        throw Error::nonPositivePort(m_port);
}

RirudezLocalPairingLink RirudezLocalPairingLink::parse(const QString &text) {
    const QString trimmed = text.trimmed();
    return fromComponents(trimmed, QUrl(trimmed, QUrl::StrictMode));
}

RirudezLocalPairingLink RirudezLocalPairingLink::parse(const QUrl &url) {
    return fromComponents(url.toString(QUrl::FullyEncoded), url);
}

QUrl RirudezLocalPairingLink::url() const {
    const QByteArray text = scheme.toLatin1() + "://" + route.toLatin1() + "?" + hostQueryField.toLatin1() +
                            "=" + queryValue(m_host) + "&" + portQueryField.toLatin1() + "=" +
                            QByteArray::number(qlonglong(m_port)) + "&" + codeQueryField.toLatin1() + "=" +
                            queryValue(m_pairingCode);
    return QUrl::fromEncoded(text, QUrl::StrictMode);
}

QString RirudezLocalPairingLink::localServerBaseURLString() const {
    QString host = m_host;
    if (host.contains(u':') && !host.startsWith(u'['))
        host = u'[' + host + u']';
    return u"http://"_s + host + u':' + QString::number(qlonglong(m_port));
}

} // namespace rirudez
