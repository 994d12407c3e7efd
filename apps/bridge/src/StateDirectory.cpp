#include "StateDirectory.h"

#include "Secrets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSysInfo>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rirudez::server {
using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcState, "zad.bridge.state")

namespace {

constexpr QFile::Permissions privateFile = QFile::ReadOwner | QFile::WriteOwner;

std::optional<QByteArray> readSmallFile(const QString &path, qint64 limit = 1 << 20) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (file.size() > limit)
        return std::nullopt;
    return file.readAll();
}

void tighten(const QString &path) {
    if (QFile::exists(path) && QFile::permissions(path) != privateFile)
        QFile::setPermissions(path, privateFile);
}

} // namespace

bool ensurePrivateDirectory(const QString &path, QString *error) {
    if (!QDir().mkpath(path)) {
        if (error)
            *error = u"cannot create the directory %1"_s.arg(path);
        return false;
    }
    if (::chmod(QFile::encodeName(path).constData(), 0700) != 0) {
        if (error)
            *error = u"cannot set the permissions of %1"_s.arg(path);
        return false;
    }
    return true;
}

bool writePrivateFile(const QString &path, const QByteArray &contents, QString *error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = u"cannot write %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    // The temporary file gets the final mode before any byte lands in it.
    file.setPermissions(privateFile);
    file.write(contents);
    if (!file.commit()) {
        if (error)
            *error = u"cannot write %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    return true;
}

QString StateDirectory::defaultPath() {
    QString home;
    if (const passwd *entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir)
        home = QFile::decodeName(entry->pw_dir);
    if (home.isEmpty())
        home = QDir::homePath();
    return QDir(home).filePath(u".derezov-bridge"_s);
}

QString StateDirectory::filePath(const QString &relative) const {
    return QDir(m_path).filePath(relative);
}

Expected<StateDirectory, QString> StateDirectory::open(const QString &path) {
    StateDirectory state;
    state.m_path = QDir(path).absolutePath();
    QString error;
    if (!ensurePrivateDirectory(state.m_path, &error) ||
        !ensurePrivateDirectory(state.filePath(u"tls"_s), &error) ||
        !ensurePrivateDirectory(state.sessionsPath(), &error))
        return error;

    const QString keyPath = state.filePath(u"tls/key.pem"_s);
    const QString certPath = state.filePath(u"tls/cert.pem"_s);
    auto key = readSmallFile(keyPath);
    auto cert = readSmallFile(certPath);
    if (key && cert && !key->isEmpty() && !certificateFingerprint(*cert).isEmpty()) {
        state.m_identity = TlsIdentity{*key, *cert};
        tighten(keyPath);
        tighten(certPath);
    } else {
        auto identity = generateTlsIdentity(u"Zad Ezarur on %1"_s.arg(QSysInfo::machineHostName()));
        if (!identity)
            return identity.error();
        if (!writePrivateFile(keyPath, identity->privateKeyPem, &error) ||
            !writePrivateFile(certPath, identity->certificatePem, &error))
            return error;
        state.m_identity = *identity;
        state.m_createdIdentity = true;
        qCInfo(lcState) << "created a new TLS key and certificate in" << state.filePath(u"tls"_s);
    }

    state.m_fingerprint = certificateFingerprint(state.m_identity.certificatePem);
    const QString fingerprintPath = state.filePath(u"fingerprint"_s);
    const QByteArray fingerprintLine = state.m_fingerprint.toLatin1() + '\n';
    if (readSmallFile(fingerprintPath) != fingerprintLine) {
        if (!writePrivateFile(fingerprintPath, fingerprintLine, &error))
            return error;
    }
    tighten(fingerprintPath);

    const QString tokenPath = state.filePath(u"token"_s);
    const auto tokenText = readSmallFile(tokenPath);
    state.m_token = tokenText ? QString::fromUtf8(*tokenText).trimmed() : QString();
    // A token shorter than 128 bits of Base64 (22 characters) is not accepted from disk.
    if (state.m_token.size() < 22) {
        state.m_token = randomToken();
        if (!writePrivateFile(tokenPath, state.m_token.toLatin1() + '\n', &error))
            return error;
        qCInfo(lcState) << "created a new bearer token in" << tokenPath;
    }
    tighten(tokenPath);
    return state;
}

} // namespace rirudez::server
