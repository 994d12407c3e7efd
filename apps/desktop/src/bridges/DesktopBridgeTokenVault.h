#pragma once

// Where the tokens of paired bridges are kept: in the system keychain (the Secret Service, through
// QtKeychain) when one answers, otherwise in a private file ("paired-bridge-tokens.json", mode 0600, in a
// 0700 folder beside the list of bridges). The caller records which one took a token
// (DesktopPairedBridge::tokenStorage) and asks the same one again.
//
// Without a session bus or an unlocked keyring, QtKeychain fails within milliseconds; that is the "no
// keychain" case and the token goes to the file. `keychainProblem()` keeps the keychain's last answer for
// the sheet. Tokens never appear in any text this class produces.

#include "DesktopPairedBridgeStore.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

namespace rirudez {

class DesktopBridgeTokenVault {
public:
    // `fallbackDirectory`: where the private token file lives. `service`: the keychain's service name.
    // `useKeychain` false: the file only (tests of the fallback, machines without a Secret Service).
    DesktopBridgeTokenVault(QString fallbackDirectory,
                            QString service = QStringLiteral("org.rirudez.Desktop"), bool useKeychain = true);

    QString fallbackFilePath() const;

    // Stores the token under the bridge's id; returns where it went. Throws DesktopPairedBridgeStoreError
    // when neither the keychain nor the file could take it.
    QCoro::Task<DesktopTokenStorage> store(QString bridgeID, QString token);
    // The token stored under the id in that place; nothing when there is none (or it cannot be read).
    QCoro::Task<std::optional<QString>> token(QString bridgeID, DesktopTokenStorage storage);
    // Forgets the token in that place (no error when there was none).
    QCoro::Task<> remove(QString bridgeID, DesktopTokenStorage storage);

    // Why the keychain could not be used the last time it was tried; nothing after a success.
    const std::optional<QString> &keychainProblem() const { return m_keychainProblem; }

private:
    std::optional<QString> fileToken(const QString &bridgeID) const;
    std::optional<QString> writeFileToken(const QString &bridgeID, const std::optional<QString> &token);

    QString m_fallbackDirectory;
    QString m_service;
    bool m_useKeychain;
    std::optional<QString> m_keychainProblem;
};

} // namespace rirudez
