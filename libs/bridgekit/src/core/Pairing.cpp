// The pairing record's derived addresses and the pair-link grammar.
#include "rirudez/bridgekit/Pairing.h"

#include <QUrlQuery>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

// A decimal port: an optional "+" or "-", then ASCII digits only (no spaces), within 1 to 65535.
std::optional<int> parsePort(QStringView text) {
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    long long value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 65535) // anything past this is out of range, so stop before it could overflow
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < 1)
        return std::nullopt;
    return static_cast<int>(value);
}

// The value of the first query item called `key`; nothing when that item is absent or has an empty value
// (later items of the same name are not consulted).
std::optional<QString> firstValue(const QList<std::pair<QString, QString>> &items, const QString &key) {
    for (const auto &[name, value] : items) {
        if (name == key) {
            if (value.isEmpty())
                return std::nullopt;
            return value;
        }
    }
    return std::nullopt;
}

// Builds the URL of `text` and accepts it only when it has exactly the intended shape: the host is the one we
// put in (QUrl lower-cases it), the port is ours, and nothing ended up in the user info, path, query or
// fragment. This turns hosts such as "a/b", "a?b" or "user@a" into "no URL" instead of a different address.
std::optional<QUrl> exactURL(const QString &text, const QString &host, int port, const QString &path) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.port() != port || url.path() != path ||
        url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return std::nullopt;
    QString expectedHost = host;
    if (expectedHost.startsWith(u'[') && expectedHost.endsWith(u']'))
        expectedHost = expectedHost.mid(1, expectedHost.size() - 2);
    if (url.host().compare(expectedHost, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return url;
}

} // namespace

std::optional<QUrl> Pairing::wsURL() const {
    return exactURL(u"wss://"_s + host + u':' + QString::number(port) + u"/ws"_s, host, port, u"/ws"_s);
}

std::optional<QUrl> Pairing::httpBase() const {
    return exactURL(u"https://"_s + host + u':' + QString::number(port), host, port, QString());
}

QString Pairing::description() const {
    return host + u':' + QString::number(port);
}

std::optional<Pairing> Pairing::parse(const QString &text, const std::optional<QString> &appScheme) {
    const QString trimmed = text.trimmed();
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;

    // QUrl lower-cases the scheme and the host, but both must match as written: compare against the text.
    const qsizetype schemeEnd = trimmed.indexOf(u':');
    const QStringView rawScheme = QStringView(trimmed).left(schemeEnd);
    if (rawScheme.compare(url.scheme(), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    if (rawScheme != canonicalScheme && (!appScheme || rawScheme != *appScheme))
        return std::nullopt;

    if (url.host() != u"pair"_s)
        return std::nullopt;
    // The host was present, so the text continues with "//" and an authority that ends at "/", "?" or "#";
    // its host is what follows any user info and precedes any port.
    QStringView authority = QStringView(trimmed).mid(schemeEnd + 3);
    for (qsizetype i = 0; i < authority.size(); ++i) {
        if (authority[i] == u'/' || authority[i] == u'?' || authority[i] == u'#') {
            authority = authority.left(i);
            break;
        }
    }
    QStringView rawHost = authority.mid(authority.lastIndexOf(u'@') + 1);
    if (const qsizetype colon = rawHost.indexOf(u':'); colon >= 0)
        rawHost = rawHost.left(colon);
    if (rawHost != u"pair")
        return std::nullopt;

    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    const auto host = firstValue(items, u"host"_s);
    if (!host)
        return std::nullopt;
    const auto portText = firstValue(items, u"port"_s);
    if (!portText)
        return std::nullopt;
    const auto port = parsePort(*portText);
    if (!port)
        return std::nullopt;
    const auto token = firstValue(items, u"token"_s);
    if (!token)
        return std::nullopt;
    std::optional<QString> fp = firstValue(items, u"fp"_s);
    if (fp)
        fp = fp->toLower();
    return Pairing{*host, *port, *token, fp};
}

QString Pairing::url(const QString &scheme) const {
    QString link =
        scheme + u"://pair?host="_s + host + u"&port="_s + QString::number(port) + u"&token="_s + token;
    if (fp)
        link += u"&fp="_s + *fp;
    return link;
}

} // namespace rirudez
