#include "PairingCodes.h"

#include "Secrets.h"

namespace rirudez::server {

namespace {
qint64 monotonicNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

PairingCodes::PairingCodes() : PairingCodes(Config{}) {}

PairingCodes::PairingCodes(Config config, Clock clock)
    : m_config(config), m_clock(clock ? std::move(clock) : Clock(monotonicNow)) {}

QString PairingCodes::issue() {
    dropExpired();
    QString code = randomDigits(m_config.digits);
    m_codes.append({code, m_clock() + m_config.lifetime.count()});
    return code;
}

PairingCodes::Answer PairingCodes::redeem(const QString &code) {
    const qint64 now = m_clock();
    if (m_lockedUntil > now)
        return {Outcome::locked, 0};
    if (m_lockedUntil != 0) {
        // The lock ran out: a fresh series of attempts begins.
        m_lockedUntil = 0;
        m_failures = 0;
    }
    dropExpired();

    // Every live code is compared, whatever matched before, so timing says nothing about which.
    qsizetype match = -1;
    const QByteArray given = code.toUtf8();
    for (qsizetype i = 0; i < m_codes.size(); ++i) {
        if (constantTimeEquals(given, m_codes.at(i).code.toUtf8()) && match < 0)
            match = i;
    }
    if (match >= 0 && !code.isEmpty()) {
        m_codes.removeAt(match);
        m_failures = 0;
        return {Outcome::granted, m_config.maxFailures};
    }
    ++m_failures;
    if (m_failures >= m_config.maxFailures)
        m_lockedUntil = now + m_config.lockout.count();
    return {Outcome::wrong, std::max(0, m_config.maxFailures - m_failures)};
}

bool PairingCodes::isLocked() const {
    return m_lockedUntil > m_clock();
}

int PairingCodes::liveCodes() const {
    const qint64 now = m_clock();
    int live = 0;
    for (const auto &issued : m_codes)
        live += issued.expiresAt > now ? 1 : 0;
    return live;
}

void PairingCodes::dropExpired() {
    const qint64 now = m_clock();
    m_codes.removeIf([now](const Issued &issued) { return issued.expiresAt <= now; });
}

} // namespace rirudez::server
