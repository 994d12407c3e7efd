#pragma once

// Random secrets and their comparison: bearer tokens, pairing codes, identifiers.

#include <QByteArray>
#include <QString>

namespace rirudez::server {

// `bytes` random bytes from the operating system's generator, written as URL-safe Base64 without
// padding (so the token can stand in a pair link as it is). 32 bytes give 256 bits.
QString randomToken(int bytes = 32);

// A numeric code of `digits` digits, uniformly distributed, leading zeros kept.
QString randomDigits(int digits);

// Compares two secrets in time that depends on neither their contents nor where they differ: both
// are hashed with SHA-256 first, and the digests are compared with a constant-time comparison.
bool constantTimeEquals(const QByteArray &a, const QByteArray &b);

} // namespace rirudez::server
