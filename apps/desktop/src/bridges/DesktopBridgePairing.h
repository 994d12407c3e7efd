#pragma once

// Pairing this desktop with a bridge on another machine, and the words for what went wrong.
//
// Three ways in: a pair link (pasted, or read from a QR code by the camera or from an image file), and a
// numeric pairing code redeemed at a bridge's address. A link must carry the bridge's certificate
// fingerprint: the pin is never relaxed, and a link without one is refused. A link is checked against the
// bridge (a health probe pinned to the link's fingerprint, with its token) before it is kept, so a wrong
// link never lands in the list.
//
// Every failure becomes one DesktopBridgePairingError whose text a person understands: which part of a link
// does not parse, a wrong code with the attempts left, a locked bridge, a certificate that does not match
// (expected and seen fingerprints), a bridge that cannot be reached. No text ever holds a token or the link
// itself (which holds one).

#include "rirudez/bridgekit/BridgeDiscovery.h"
#include "rirudez/bridgekit/CodePairing.h"
#include "rirudez/bridgekit/Pairing.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <chrono>
#include <exception>
#include <optional>

namespace rirudez {

class DesktopBridgePairingError final : public std::exception {
public:
    explicit DesktopBridgePairingError(QString text) : m_text(std::move(text)), m_what(m_text.toUtf8()) {}
    const QString &localizedDescription() const { return m_text; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_text;
    QByteArray m_what;
};

// A bridge the desktop may keep: where it is, its name, and the pairing (with token and fingerprint).
struct DesktopBridgeCandidate {
    Pairing pairing;
    QString name;
};

namespace DesktopBridgePairing {

// Which part of a pair link is wrong, in words; nothing when the link parses. Never quotes the link.
std::optional<QString> linkProblem(const QString &text);

// Parses the link (refusing one without a fingerprint) and checks it against the bridge. Throws
// DesktopBridgePairingError.
QCoro::Task<DesktopBridgeCandidate> checkLink(QString text);

// Redeems a pairing code at host:port, pinned to `expectedFingerprint` when known (discovery), trusting
// the first certificate otherwise (then the bridge's own statement of its fingerprint must match it).
// Throws DesktopBridgePairingError.
QCoro::Task<DesktopBridgeCandidate> redeemCode(QString host, int port, QString code,
                                               std::optional<QString> expectedFingerprint);

// Redeems a pairing code at a bridge seen on the local network: its address is looked up first (allowing
// `resolveTimeout`), then the code is redeemed there pinned to the fingerprint the bridge advertised (trust
// on first use when it advertised none). Throws DesktopBridgePairingError.
QCoro::Task<DesktopBridgeCandidate> redeemDiscovered(BridgeDiscoveryFound found, QString code,
                                                     std::chrono::milliseconds resolveTimeout);

// The fingerprint of the certificate host:port presents now, learned without sending any credential
// (a TLS handshake and a request without a token); nothing when it cannot be reached.
QCoro::Task<std::optional<QString>> presentedFingerprint(QString host, int port);

// The words for a failure of pairing or of using a paired bridge (any exception).
QCoro::Task<QString> describeFailure(std::exception_ptr error, QString host, int port,
                                     std::optional<QString> expectedFingerprint);

} // namespace DesktopBridgePairing

} // namespace rirudez
