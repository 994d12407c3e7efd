#include "Secrets.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <QCryptographicHash>

#include <cstdint>
#include <stdexcept>

namespace rirudez::server {

namespace {
QByteArray randomBytes(int count) {
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1)
        throw std::runtime_error("the random generator failed");
    return bytes;
}
} // namespace

QString randomToken(int bytes) {
    return QString::fromLatin1(
        randomBytes(bytes).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString randomDigits(int digits) {
    QString code;
    code.reserve(digits);
    while (code.size() < digits) {
        // Rejection sampling keeps every digit equally likely.
        const auto byte = static_cast<unsigned char>(randomBytes(1).at(0));
        if (byte < 250)
            code.append(QChar(u'0' + byte % 10));
    }
    return code;
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b) {
    const QByteArray da = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray db = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    return CRYPTO_memcmp(da.constData(), db.constData(), std::size_t(da.size())) == 0;
}

} // namespace rirudez::server
