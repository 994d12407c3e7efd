#include "TlsIdentity.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QCryptographicHash>
#include <QHostAddress>

#include <memory>

namespace rirudez::server {
using namespace Qt::StringLiterals;

namespace {

template <typename T, void (*Free)(T *)>
struct Deleter {
    void operator()(T *pointer) const { Free(pointer); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

QByteArray bioContents(BIO *bio) {
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, qsizetype(size)) : QByteArray();
}

bool addExtension(X509 *cert, int nid, const QByteArray &value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    ExtPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData()));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

} // namespace

Expected<TlsIdentity, QString> generateTlsIdentity(const QString &commonName, const QString &extraHostName) {
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        return u"could not generate an EC P-256 key"_s;

    CertPtr cert(X509_new());
    if (!cert)
        return u"could not allocate a certificate"_s;
    X509_set_version(cert.get(), 2); // v3

    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        return u"no random bytes for the certificate serial"_s;
    serial[0] &= 0x7f; // positive
    std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> serialNumber(BN_bin2bn(serial, sizeof serial, nullptr));
    if (!serialNumber || !BN_to_ASN1_INTEGER(serialNumber.get(), X509_get_serialNumber(cert.get())))
        return u"could not set the certificate serial"_s;

    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60 * 60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 60L * 60 * 24 * 365 * 10);
    X509_set_pubkey(cert.get(), key.get());

    X509_NAME *name = X509_get_subject_name(cert.get());
    const QByteArray cn = commonName.toUtf8();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(cn.constData()), int(cn.size()), -1,
                               0);
    X509_set_issuer_name(cert.get(), name);

    QByteArray san = "DNS:localhost,IP:127.0.0.1,IP:0:0:0:0:0:0:0:1";
    if (!extraHostName.isEmpty()) {
        const QHostAddress address(extraHostName);
        if (!address.isNull())
            san += ",IP:" + address.toString().toLatin1();
        else
            san += ",DNS:" + extraHostName.toLatin1();
    }
    if (!addExtension(cert.get(), NID_subject_alt_name, san) ||
        !addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(cert.get(), NID_key_usage, "critical,digitalSignature") ||
        !addExtension(cert.get(), NID_ext_key_usage, "serverAuth"))
        return u"could not add the certificate extensions"_s;

    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
        return u"could not sign the certificate"_s;

    BioPtr keyBio(BIO_new(BIO_s_mem()));
    BioPtr certBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !certBio ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(certBio.get(), cert.get()) != 1)
        return u"could not write the key and certificate"_s;

    return TlsIdentity{bioContents(keyBio.get()), bioContents(certBio.get())};
}

QString certificateFingerprint(const QByteArray &certificatePem) {
    BioPtr bio(BIO_new_mem_buf(certificatePem.constData(), int(certificatePem.size())));
    if (!bio)
        return {};
    CertPtr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert.get(), EVP_sha256(), digest, &length) != 1)
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

} // namespace rirudez::server
