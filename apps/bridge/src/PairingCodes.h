#pragma once

// One-time numeric pairing codes, exchanged over POST /pair for the bearer token. Codes are single
// use and expire; after `maxFailures` wrong codes in a row the exchange is locked for `lockout`.

#include <QList>
#include <QString>

#include <chrono>
#include <functional>

namespace rirudez::server {

class PairingCodes {
public:
    struct Config {
        int digits = 6;
        int maxFailures = 5;
        std::chrono::milliseconds lifetime = std::chrono::minutes(10);
        std::chrono::milliseconds lockout = std::chrono::minutes(5);
    };
    enum class Outcome { granted, wrong, locked };
    struct Answer {
        Outcome outcome = Outcome::wrong;
        int attemptsLeft = 0; // for `wrong`: how many more wrong codes before the lock
    };
    // Milliseconds on a monotonic clock; replaceable so tests can move time.
    using Clock = std::function<qint64()>;

    PairingCodes();
    explicit PairingCodes(Config config, Clock clock = {});

    // A fresh code, valid for `lifetime`, in addition to the codes already issued.
    QString issue();
    // Checks `code` (digits only) in constant time against every live code. A match consumes it and
    // clears the failure count; a miss counts as a failure; while locked every code is refused.
    Answer redeem(const QString &code);

    bool isLocked() const;
    int liveCodes() const;
    const Config &config() const { return m_config; }

private:
    struct Issued {
        QString code;
        qint64 expiresAt = 0;
    };
    void dropExpired();

    Config m_config;
    Clock m_clock;
    QList<Issued> m_codes;
    int m_failures = 0;
    qint64 m_lockedUntil = 0;
};

} // namespace rirudez::server
