// Tokens in a real Secret Service: a GNOME keyring on a private session bus (scripts/with-keyring).

#include "DesktopBridgeTokenVault.h"

#include "support/EventLoop.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

TEST(DesktopBridgeKeychainTest, TokenGoesToTheKeychainAndNotToTheFile) {
    if (qEnvironmentVariableIsSet("RIRUDEZ_KEYRING_SKIP"))
        GTEST_SKIP() << qPrintable(qEnvironmentVariable("RIRUDEZ_KEYRING_SKIP"));
    if (!qEnvironmentVariableIsSet("RIRUDEZ_KEYRING"))
        GTEST_SKIP() << "runs under scripts/with-keyring only";
    QTemporaryDir dir;
    DesktopBridgeTokenVault vault(dir.path(), u"org.rirudez.Desktop.test"_s);
    const QString secret = u"tok-keyring-0451"_s;

    const auto where = testing::runTask(vault.store(u"bridge-1"_s, secret));
    ASSERT_TRUE(where);
    ASSERT_EQ(*where, DesktopTokenStorage::keychain)
        << vault.keychainProblem().value_or(QString()).toStdString();
    EXPECT_FALSE(vault.keychainProblem());
    EXPECT_FALSE(QFile::exists(vault.fallbackFilePath()));
    EXPECT_EQ(
        testing::runTask(vault.token(u"bridge-1"_s, DesktopTokenStorage::keychain)).value_or(std::nullopt),
        secret);

    ASSERT_TRUE(testing::runTask(vault.remove(u"bridge-1"_s, DesktopTokenStorage::keychain)));
    EXPECT_EQ(testing::runTask(vault.token(u"bridge-1"_s, DesktopTokenStorage::keychain)).value_or(u"?"_s),
              std::nullopt);
}

} // namespace
} // namespace rirudez
