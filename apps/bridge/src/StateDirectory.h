#pragma once

// The bridge's state directory: created 0700 on first start with a TLS key and certificate (0600),
// a bearer token, and the files "token" and "fingerprint" that the desktop reads; reused afterwards.
//
//   <dir>/token            bearer token, one line
//   <dir>/fingerprint      SHA-256 of the certificate's DER, 64 lower-case hex digits, one line
//   <dir>/tls/key.pem      private key (0600)
//   <dir>/tls/cert.pem     self-signed certificate
//   <dir>/projects.json    registered projects
//   <dir>/projects/        folders of projects created through the bridge
//   <dir>/sessions/<id>/   session.json and events.jsonl of each repo session

#include "TlsIdentity.h"

#include "rirudez/bridgekit/Expected.h"

#include <QByteArray>
#include <QString>

namespace rirudez::server {

class StateDirectory {
public:
    // Opens (creating what is missing) the state directory at `path`. Tightens the directory to 0700
    // and every secret file to 0600. Fails when the directory cannot be created or the identity
    // cannot be read or made.
    static Expected<StateDirectory, QString> open(const QString &path);

    // ".derezov-bridge" in the current user's home directory, from the password database (falling
    // back to $HOME when the database has no entry).
    static QString defaultPath();

    const QString &path() const { return m_path; }
    const QString &token() const { return m_token; }
    const QString &fingerprint() const { return m_fingerprint; }
    const TlsIdentity &identity() const { return m_identity; }
    // True when this open created the identity (first start or a removed certificate).
    bool createdIdentity() const { return m_createdIdentity; }

    QString filePath(const QString &relative) const;
    QString sessionsPath() const { return filePath(QStringLiteral("sessions")); }
    QString projectsRoot() const { return filePath(QStringLiteral("projects")); }
    QString projectsFile() const { return filePath(QStringLiteral("projects.json")); }

private:
    QString m_path;
    QString m_token;
    QString m_fingerprint;
    TlsIdentity m_identity;
    bool m_createdIdentity = false;
};

// Writes `contents` to `path` atomically (a temporary file renamed into place) with mode 0600.
bool writePrivateFile(const QString &path, const QByteArray &contents, QString *error = nullptr);
// Creates `path` (and its parents) when missing and sets mode 0700 on it.
bool ensurePrivateDirectory(const QString &path, QString *error = nullptr);

} // namespace rirudez::server
