#include "rirudez/bridgekit/CodePairing.h"

#include "rirudez/bridgekit/CertPinning.h"

#include "TransportErrors.h"
#include "Waiter.h"

#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <nlohmann/json.hpp>

#include <chrono>
#include <limits>
#include <memory>

namespace rirudez {

using namespace Qt::StringLiterals;
using Json = nlohmann::json;

namespace {

// Redeeming pairing codes: where, and how the bridge answered. Neither the code nor the token appears.
Q_LOGGING_CATEGORY(lcBridgeKitPairing, "rirudez.bridgekit.pairing")

constexpr std::chrono::seconds pairTimeLimit{8};

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

// Parses a JSON object; nothing when the bytes are not JSON or not an object.
std::optional<Json> parseObject(QByteArrayView bytes) {
    Json json = Json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded() || !json.is_object()) {
        return std::nullopt;
    }
    return json;
}

std::optional<QString> stringMember(const Json &object, const char *key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return std::nullopt;
    }
    return QString::fromStdString(it->get<std::string>());
}

std::optional<int> intMember(const Json &object, const char *key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) {
        return std::nullopt;
    }
    if (it->is_number_unsigned()) {
        const auto value = it->get<std::uint64_t>();
        if (value > std::uint64_t(std::numeric_limits<int>::max())) {
            return std::nullopt;
        }
        return int(value);
    }
    const auto value = it->get<std::int64_t>();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return int(value);
}

DecodingError missing(const char *record, const char *key) {
    return DecodingError{
        u"%1: key not found or of the wrong type: %2"_s.arg(QLatin1String(record), QLatin1String(key))};
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------

CodePairingError::CodePairingError(Value value) : m_value(std::move(value)) {
    cacheWhat();
}

CodePairingError::CodePairingError(const CodePairingError &other)
    : BridgeKitError(other), m_value(other.m_value) {}

CodePairingError &CodePairingError::operator=(const CodePairingError &other) {
    BridgeKitError::operator=(other);
    m_value = other.m_value;
    return *this;
}

QString CodePairingError::diagnosticText() const {
    return std::visit(
        Overloaded{
            [](const WrongCode &c) { return u"wrongCode(attemptsLeft: %1)"_s.arg(c.attemptsLeft); },
            [](const Http &c) { return u"http(%1)"_s.arg(c.status); },
            [](const BadURL &) { return u"badURL"_s; },
            [](const FingerprintMismatch &) { return u"fingerprintMismatch"_s; },
            [](const Locked &) { return u"locked"_s; },
        },
        m_value);
}

QString CodePairingError::localizedDescription() const {
    return std::visit(
        Overloaded{
            [](const WrongCode &c) {
                return c.attemptsLeft == 1
                           ? u"That pairing code is wrong. 1 attempt left."_s
                           : u"That pairing code is wrong. %1 attempts left."_s.arg(c.attemptsLeft);
            },
            [](const Http &c) {
                return c.status == 0
                           ? u"The Zad Ezarur did not answer over HTTP."_s
                           : u"Pairing failed: the Zad Ezarur answered with HTTP status %1."_s.arg(c.status);
            },
            [](const BadURL &) { return u"The Zad Ezarur's address is not valid."_s; },
            [](const FingerprintMismatch &) {
                return u"The Zad Ezarur's certificate does not match what it reports about itself. Pairing "
                       u"was "
                       u"stopped."_s;
            },
            [](const Locked &) {
                return u"Too many wrong codes. Pairing is locked for now; try again later."_s;
            },
        },
        m_value);
}

// ---------------------------------------------------------------------------------------------------------------

namespace CodePairing {

Expected<Granted, DecodingError> decodeGranted(QByteArrayView bytes) {
    const std::optional<Json> json = parseObject(bytes);
    if (!json) {
        return DecodingError{u"Granted: not a JSON object"_s};
    }
    Granted granted;
    const auto token = stringMember(*json, "token");
    if (!token) {
        return missing("Granted", "token");
    }
    const auto name = stringMember(*json, "name");
    if (!name) {
        return missing("Granted", "name");
    }
    const auto agents = json->find("agents");
    if (agents == json->end() || !agents->is_array()) {
        return missing("Granted", "agents");
    }
    for (const Json &agent : *agents) {
        if (!agent.is_string()) {
            return missing("Granted", "agents");
        }
        granted.agents.append(QString::fromStdString(agent.get<std::string>()));
    }
    const auto protocol = intMember(*json, "protocol");
    if (!protocol) {
        return missing("Granted", "protocol");
    }
    const auto fp = stringMember(*json, "fp");
    if (!fp) {
        return missing("Granted", "fp");
    }
    granted.token = *token;
    granted.name = *name;
    granted.protocol = *protocol;
    granted.fp = *fp;
    return granted;
}

Expected<Wrong, DecodingError> decodeWrong(QByteArrayView bytes) {
    const std::optional<Json> json = parseObject(bytes);
    if (!json) {
        return DecodingError{u"Wrong: not a JSON object"_s};
    }
    const auto attemptsLeft = intMember(*json, "attempts_left");
    if (!attemptsLeft) {
        return missing("Wrong", "attempts_left");
    }
    return Wrong{*attemptsLeft};
}

QString normalize(const QString &code) {
    // Numeric characters of any script count (decimal digits, letter numbers, other numbers), whole code
    // points at a time so characters outside the basic plane stay intact.
    QString digits;
    digits.reserve(code.size());
    for (const char32_t codePoint : code.toUcs4()) {
        if (QChar::isNumber(codePoint)) {
            digits.append(QString::fromUcs4(&codePoint, 1));
        }
    }
    return digits;
}

QCoro::Task<RedeemedBridge> redeem(QString host, int port, QString code,
                                   std::optional<QString> expectedFingerprint) {
    // 1. Pinned to what discovery advertised, or trust on first use with the delegate to read afterwards.
    std::shared_ptr<URLSession> session;
    std::shared_ptr<PinningDelegate> tofuDelegate;
    if (expectedFingerprint) {
        session = CertPinning::pinnedSession(*expectedFingerprint);
    } else {
        std::tie(session, tofuDelegate) = CertPinning::tofuSession();
    }

    // 2. The address.
    const Pairing target{host, port, QString(), std::nullopt};
    const std::optional<QUrl> base = target.httpBase();
    if (!base) {
        throw CodePairingError::badURL();
    }
    QUrl url = *base;
    url.setPath(u"/pair"_s);

    // 3. The request.
    QNetworkRequest request(url);
    request.setTransferTimeout(int(std::chrono::milliseconds(pairTimeLimit).count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
    Json body = Json::object();
    body["code"] = normalize(code).toStdString();
    const QByteArray payload = QByteArray::fromStdString(body.dump());

    std::unique_ptr<QNetworkReply> reply(session->post(request, payload));
    auto finished = detail::Waiter<bool>::make();
    QObject::connect(reply.get(), &QNetworkReply::finished, reply.get(),
                     [finished] { finished->resume(true); });
    co_await finished->wait();

    // 4. The answer.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (reply->error() != QNetworkReply::NoError) {
            throw TransportError(detail::transportKind(reply->error()), reply->errorString());
        }
        throw CodePairingError::http(0);
    }
    const QByteArray answer = reply->readAll();
    switch (const int statusCode = status.toInt()) {
    case 200:
        break;
    case 429:
        qCWarning(lcBridgeKitPairing).noquote() << host << "port" << port << "takes no codes for now";
        throw CodePairingError::locked();
    case 401: {
        const Expected<Wrong, DecodingError> wrong = decodeWrong(answer);
        qCInfo(lcBridgeKitPairing).noquote() << host << "port" << port << "refused the code;"
                                             << (wrong ? wrong->attemptsLeft : 0) << "attempts left";
        throw CodePairingError::wrongCode(wrong ? wrong->attemptsLeft : 0);
    }
    default:
        qCWarning(lcBridgeKitPairing).noquote() << host << "port" << port << "answered HTTP" << statusCode;
        throw CodePairingError::http(statusCode);
    }
    Expected<Granted, DecodingError> granted = decodeGranted(answer);
    if (!granted) {
        throw DecodingFailure(granted.error());
    }

    // 5. The certificate we talked to must be the one the bridge says it has.
    const std::optional<QString> observed =
        expectedFingerprint ? expectedFingerprint : tofuDelegate->seenFingerprint();
    if (!observed || observed->toLower() != granted->fp.toLower()) {
        qCWarning(lcBridgeKitPairing).noquote()
            << host << "port" << port << "granted a pairing for another certificate than the one it showed";
        throw CodePairingError::fingerprintMismatch();
    }
    qCInfo(lcBridgeKitPairing).noquote() << "paired with" << granted->name << "at" << host << "port" << port;

    // 6. The pairing.
    co_return RedeemedBridge{Pairing{host, port, granted->token, observed->toLower()}, granted->name,
                             granted->agents, granted->protocol};
}

QCoro::Task<RedeemedBridge> redeem(BridgeDiscovery::Found found, QString code,
                                   std::chrono::milliseconds resolveTimeout) {
    const HostPortEndpoint address =
        co_await BridgeDiscovery::resolveEndpoint(found.endpoint, resolveTimeout);
    co_return co_await redeem(address.host, address.port, std::move(code), std::move(found.fingerprint));
}

} // namespace CodePairing

} // namespace rirudez
