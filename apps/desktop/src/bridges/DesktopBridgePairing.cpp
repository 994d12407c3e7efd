#include "DesktopBridgePairing.h"

#include "rirudez/bridgekit/BridgeClient.h"
#include "rirudez/bridgekit/BridgeClientError.h"
#include "rirudez/bridgekit/CertPinning.h"

#include <QNetworkReply>
#include <QUrlQuery>

#include <QCoroNetworkReply>

#include <memory>

using namespace Qt::StringLiterals;

namespace rirudez::DesktopBridgePairing {

namespace {

// The first value of a query key; empty when missing or empty (the link parser treats both as missing).
QString firstValue(const QUrlQuery &query, const QString &key) {
    for (const auto &[name, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (name == key)
            return value;
    }
    return {};
}

} // namespace

std::optional<QString> linkProblem(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return u"Paste a pair link first."_s;
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return u"This is not a link. A pair link starts with “doduzadod://pair?”."_s;
    if (url.scheme() != Pairing::canonicalScheme.toString())
        return u"The link starts with “%1:” instead of “doduzadod:”."_s.arg(url.scheme());
    if (url.host() != u"pair"_s)
        return u"The link is not a pair link: after “doduzadod://” it must say “pair”."_s;
    const QUrlQuery query(url);
    if (firstValue(query, u"host"_s).isEmpty())
        return u"The link names no bridge address (its “host” part is missing or empty)."_s;
    const QString port = firstValue(query, u"port"_s);
    if (port.isEmpty())
        return u"The link has no port (its “port” part is missing or empty)."_s;
    if (!Pairing::parse(trimmed)) {
        bool ok = false;
        const int value = port.toInt(&ok);
        if (!ok || value < 1 || value > 65535)
            return u"The link’s port “%1” is not a number from 1 to 65535."_s.arg(port.left(12));
    }
    if (firstValue(query, u"token"_s).isEmpty())
        return u"The link has no token (its “token” part is missing or empty)."_s;
    if (!Pairing::parse(trimmed))
        return u"The pair link could not be read."_s;
    return std::nullopt;
}

QCoro::Task<std::optional<QString>> presentedFingerprint(QString host, int port) {
    const Pairing target{host, port, {}, std::nullopt};
    const auto base = target.httpBase();
    if (!base)
        co_return std::nullopt;
    auto [session, delegate] = CertPinning::tofuSession();
    QUrl url = *base;
    url.setPath(u"/health"_s);
    QNetworkRequest request(url);
    request.setTransferTimeout(5000);
    std::unique_ptr<QNetworkReply> reply(session->get(request));
    co_await qCoro(reply.get()).waitForFinished();
    co_return delegate->seenFingerprint();
}

namespace {

// The words for a failure that need no further look at the bridge; nothing for a certificate that does
// not match the expected one (the caller then learns which certificate the bridge shows).
std::optional<QString> immediateWords(std::exception_ptr error, const QString &where,
                                      const std::optional<QString> &expectedFingerprint) {
    try {
        std::rethrow_exception(error);
    } catch (const DesktopBridgePairingError &e) {
        return e.localizedDescription();
    } catch (const CodePairingError &e) {
        if (const auto *wrong = e.as<CodePairingError::WrongCode>()) {
            return wrong->attemptsLeft == 1
                       ? u"That code is not the one the bridge shows. 1 attempt left."_s
                       : u"That code is not the one the bridge shows. %1 attempts left."_s.arg(
                             wrong->attemptsLeft);
        }
        if (e.is<CodePairingError::Locked>())
            return u"The bridge at %1 is locked after too many wrong codes. Wait a while, then try the new "
                   "code it shows."_s.arg(where);
        if (e.is<CodePairingError::BadURL>())
            return u"“%1” is not an address a bridge can have."_s.arg(where);
        if (!e.is<CodePairingError::FingerprintMismatch>())
            return u"The bridge at %1 refused the code (%2)."_s.arg(where, e.diagnosticText());
        return std::nullopt;
    } catch (const TransportError &e) {
        if (e.kind() != TransportError::Kind::tlsRefused || !expectedFingerprint)
            return u"The bridge at %1 could not be reached: %2"_s.arg(where, e.localizedDescription());
        return std::nullopt;
    } catch (const BridgeClientError &e) {
        if (e.is<BridgeClientError::Unauthorized>())
            return u"The bridge at %1 does not accept this pairing’s token any more. Pair it again."_s.arg(
                where);
        return u"The bridge at %1 answered with an error: %2"_s.arg(where, e.localizedDescription());
    } catch (const BridgeKitError &e) {
        return u"The bridge at %1 could not be used: %2"_s.arg(where, e.localizedDescription());
    } catch (...) {
        return u"The bridge at %1 could not be used."_s.arg(where);
    }
}

} // namespace

QCoro::Task<QString> describeFailure(std::exception_ptr error, QString host, int port,
                                     std::optional<QString> expectedFingerprint) {
    const QString where = host + u':' + QString::number(port);
    if (auto words = immediateWords(error, where, expectedFingerprint))
        co_return *words;
    // A certificate that is not the expected one: say which was expected and which was seen.
    const std::optional<QString> seen = co_await presentedFingerprint(host, port);
    co_return u"The bridge at %1 shows a different certificate than the one it was paired with, so nothing "
              "was sent to it. Expected fingerprint %2, seen %3. If the bridge was reinstalled, pair it again."_s
                  .arg(where, expectedFingerprint.value_or(u"(none)"_s), seen.value_or(u"(none)"_s));
}

QCoro::Task<DesktopBridgeCandidate> checkLink(QString text) {
    if (auto problem = linkProblem(text))
        throw DesktopBridgePairingError(*problem);
    Pairing pairing = *Pairing::parse(text);
    if (!pairing.fp)
        throw DesktopBridgePairingError(
            u"The link has no certificate fingerprint (its “fp” part), so the bridge cannot be checked. "
            "Use the link or QR code the bridge shows, which includes it."_s);
    std::exception_ptr failure;
    try {
        const BridgeHealth health = co_await probeBridgeHealth(pairing);
        QString name = health.name.isEmpty() ? pairing.host : health.name;
        co_return DesktopBridgeCandidate{std::move(pairing), std::move(name)};
    } catch (...) {
        failure = std::current_exception();
    }
    const QString words = co_await describeFailure(failure, pairing.host, pairing.port, pairing.fp);
    throw DesktopBridgePairingError(words);
}

QCoro::Task<DesktopBridgeCandidate> redeemCode(QString host, int port, QString code,
                                               std::optional<QString> expectedFingerprint) {
    if (CodePairing::normalize(code).isEmpty())
        throw DesktopBridgePairingError(u"Type the numeric code the bridge shows."_s);
    std::exception_ptr failure;
    try {
        RedeemedBridge redeemed = co_await CodePairing::redeem(host, port, code, expectedFingerprint);
        co_return DesktopBridgeCandidate{std::move(redeemed.pairing), redeemed.name};
    } catch (...) {
        failure = std::current_exception();
    }
    const QString words = co_await describeFailure(failure, host, port, expectedFingerprint);
    throw DesktopBridgePairingError(words);
}

QCoro::Task<DesktopBridgeCandidate> redeemDiscovered(BridgeDiscoveryFound found, QString code,
                                                     std::chrono::milliseconds resolveTimeout) {
    if (CodePairing::normalize(code).isEmpty())
        throw DesktopBridgePairingError(u"Type the numeric code the bridge shows."_s);
    HostPortEndpoint at;
    std::optional<QString> unresolved;
    try {
        QCoro::Task<HostPortEndpoint> resolving = BridgeDiscovery::resolve(found, resolveTimeout);
        at = co_await resolving;
    } catch (const BridgeDiscoveryError &e) {
        unresolved = e.value() == BridgeDiscoveryError::Case::timeout
                         ? u"“%1” is seen on the network but did not say where it can be reached within %2 "
                           "seconds. Try again, or type its address."_s.arg(found.name)
                               .arg(resolveTimeout.count() / 1000.0)
                         : u"“%1” is seen on the network but its address could not be found (%2). Type its "
                           "address instead."_s.arg(found.name, e.localizedDescription());
    } catch (const DnsServiceError &e) {
        unresolved =
            u"The address of “%1” could not be looked up: %2"_s.arg(found.name, e.localizedDescription());
    } catch (...) {
        unresolved = u"The address of “%1” could not be looked up."_s.arg(found.name);
    }
    if (unresolved)
        throw DesktopBridgePairingError(*unresolved);

    // Redeemed where the lookup found it, pinned to what it advertised.
    BridgeDiscoveryFound located = found;
    located.endpoint = HostPortEndpoint{at.host, at.port};
    std::exception_ptr failure;
    try {
        QCoro::Task<RedeemedBridge> redeeming = CodePairing::redeem(std::move(located), code, resolveTimeout);
        RedeemedBridge redeemed = co_await redeeming;
        QString name = redeemed.name.isEmpty() ? found.name : redeemed.name;
        co_return DesktopBridgeCandidate{std::move(redeemed.pairing), std::move(name)};
    } catch (...) {
        failure = std::current_exception();
    }
    const QString words = co_await describeFailure(failure, at.host, at.port, found.fingerprint);
    throw DesktopBridgePairingError(words);
}

} // namespace rirudez::DesktopBridgePairing
