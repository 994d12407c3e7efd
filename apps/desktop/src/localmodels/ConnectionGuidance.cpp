#include "ConnectionGuidance.h"

#include <QStringList>
#include <QUrl>

#include <array>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

// The four octets of a dotted-decimal IPv4 address (digits only, each 0-255), if it is one.
std::optional<std::array<int, 4>> octets(const QString &host) {
    const QStringList parts = host.split(u'.');
    if (parts.size() != 4)
        return std::nullopt;
    std::array<int, 4> result{};
    for (int i = 0; i < 4; ++i) {
        const QString &part = parts[i];
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        for (const QChar c : part)
            if (c < u'0' || c > u'9')
                return std::nullopt;
        result[i] = part.toInt();
        if (result[i] > 255)
            return std::nullopt;
    }
    return result;
}

bool isLoopback(const QString &host) {
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0 || host == u"::1"_s)
        return true;
    const auto address = octets(host);
    return address && (*address)[0] == 127;
}

QString endpoint(const QString &host, int port) {
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
}

} // namespace

std::optional<std::pair<QString, int>> ConnectionGuidance::parseHostAndPort(const QString &baseURL) {
    QString text = baseURL.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    if (!text.contains(u"://"_s))
        text.prepend(u"http://"_s);
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const int fallback = url.scheme().compare(u"https"_s, Qt::CaseInsensitive) == 0 ? 443 : 80;
    return std::pair{url.host(), url.port(fallback)};
}

bool ConnectionGuidance::isLANAddress(const QString &host) {
    const auto address = octets(host);
    if (!address)
        return false;
    const auto [a, b, c, d] = *address;
    Q_UNUSED(c)
    Q_UNUSED(d)
    return a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168) || (a == 169 && b == 254);
}

ConnectionGuidance ConnectionGuidance::derive(const std::optional<QString> &baseURL) {
    if (!baseURL)
        return ConnectionGuidance(NotConfigured{});
    const auto parsed = parseHostAndPort(*baseURL);
    if (!parsed)
        return ConnectionGuidance(NotConfigured{});
    const auto &[host, port] = *parsed;
    if (isLoopback(host))
        return ConnectionGuidance(SameMachineLoopback{host, port});
    if (isLANAddress(host) || host.endsWith(u".local"_s, Qt::CaseInsensitive))
        return ConnectionGuidance(LanAdvertised{host, port});
    return ConnectionGuidance(CustomEndpoint{host, port});
}

QString ConnectionGuidance::headlineCopy() const {
    return std::visit(Overloaded{
                          [](const SameMachineLoopback &) { return u"Server on this computer"_s; },
                          [](const LanAdvertised &) { return u"Server on your local network"_s; },
                          [](const CustomEndpoint &) { return u"Custom server address"_s; },
                          [](const NotConfigured &) { return u"No server address yet"_s; },
                      },
                      m_value);
}

QString ConnectionGuidance::detailCopy() const {
    return std::visit(
        Overloaded{
            [](const SameMachineLoopback &c) {
                return u"Rirudez checks %1 on this computer. Start the local server here; it listens on port "
                       u"%2 "
                       u"unless told otherwise."_s.arg(endpoint(c.host, c.port))
                           .arg(defaultServerPort);
            },
            [](const LanAdvertised &c) {
                return u"Rirudez checks %1 on your local network. Keep both devices on the same network and "
                       u"let the server's computer accept connections on port %2."_s
                           .arg(endpoint(c.host, c.port))
                           .arg(c.port);
            },
            [](const CustomEndpoint &c) {
                return u"%1 is outside your local network. Make sure this computer can reach it, and protect "
                       u"it with a token."_s.arg(endpoint(c.host, c.port));
            },
            [](const NotConfigured &) {
                return u"Enter the local server's address, for example http://127.0.0.1:%1."_s.arg(
                    defaultServerPort);
            },
        },
        m_value);
}

} // namespace rirudez
