#pragma once

// The bridge's TLS identity: an EC P-256 key and a self-signed certificate for the loopback names,
// made with OpenSSL, and the SHA-256 fingerprint that clients pin.

#include "rirudez/bridgekit/Expected.h"

#include <QByteArray>
#include <QString>

namespace rirudez::server {

struct TlsIdentity {
    QByteArray privateKeyPem;  // PKCS#8 PEM, unencrypted
    QByteArray certificatePem; // X.509 PEM
};

// A fresh key and a self-signed certificate valid for ten years, with "localhost", 127.0.0.1 and ::1
// (and `extraHostName` when not empty) as subject alternative names.
Expected<TlsIdentity, QString> generateTlsIdentity(const QString &commonName,
                                                   const QString &extraHostName = {});

// SHA-256 of the certificate's DER encoding as 64 lower-case hex digits; empty when the PEM does not
// hold a certificate.
QString certificateFingerprint(const QByteArray &certificatePem);

} // namespace rirudez::server
