// The list of paired bridges on disk and the file fallback for their tokens: what survives a restart, the
// file modes, unreadable files kept aside instead of overwritten, failed writes that change nothing, and
// tokens that never reach the list.

#include "DesktopPairedBridgeStore.h"
#include "DesktopBridgeTokenVault.h"

#include "support/EventLoop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

const QString fpA = QString(64, u'a');
const QString fpB = u"0123456789abcdef"_s.repeated(4);

DesktopPairedBridge bridgeAt(const QString &host, int port, const QString &fp = fpA) {
    return DesktopPairedBridge{{}, u"studio"_s, host, port, fp, DesktopTokenStorage::file};
}

mode_t modeOf(const QString &path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_mode & 0777;
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class DesktopPairedBridgeStoreTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    QString directory() const { return temp.filePath(u"data/rirudez-desktop"_s); }
};

TEST_F(DesktopPairedBridgeStoreTest, ListAndChoiceSurviveARestartInPrivateFiles) {
    QString studioID;
    {
        DesktopPairedBridgeStore store(directory());
        EXPECT_TRUE(store.bridges().isEmpty());
        EXPECT_FALSE(store.loadProblem());
        studioID = store.add(bridgeAt(u"192.168.1.20"_s, 8800, fpA.toUpper())).id;
        store.add(bridgeAt(u"10.0.0.9"_s, 9900, fpB));
        EXPECT_TRUE(store.select(studioID));
        EXPECT_FALSE(store.select(u"no-such-bridge"_s));
    }
    DesktopPairedBridgeStore reloaded(directory());
    ASSERT_EQ(reloaded.bridges().size(), 2);
    EXPECT_EQ(reloaded.bridges()[0].fingerprint, fpA); // stored in lower case
    EXPECT_EQ(reloaded.bridges()[0].address(), u"192.168.1.20:8800"_s);
    EXPECT_EQ(reloaded.bridges()[0].shortFingerprint(), u"aaaaaaaa…aaaaaaaa"_s);
    EXPECT_EQ(reloaded.selectedBridgeID(), studioID);
    EXPECT_FALSE(reloaded.loadProblem());
    EXPECT_EQ(modeOf(reloaded.filePath()), mode_t(0600));
    EXPECT_EQ(modeOf(directory()), mode_t(0700));

    // Re-pairing the same host and port replaces the record and keeps its id (and so the choice).
    const auto repaired = reloaded.add(bridgeAt(u"192.168.1.20"_s, 8800, fpB));
    EXPECT_EQ(repaired.id, studioID);
    EXPECT_EQ(reloaded.bridges().size(), 2);
    EXPECT_EQ(reloaded.bridge(studioID)->fingerprint, fpB);

    // Removing the chosen bridge goes back to this computer.
    EXPECT_TRUE(reloaded.remove(studioID));
    EXPECT_FALSE(reloaded.remove(studioID));
    EXPECT_FALSE(reloaded.selectedBridgeID());
    EXPECT_EQ(DesktopPairedBridgeStore(directory()).bridges().size(), 1);
}

TEST_F(DesktopPairedBridgeStoreTest, UnreadableFilesAreKeptAsideNotOverwritten) {
    const QString entry =
        uR"({"id":"a","name":"n","host":"h","port":8800,"fingerprint":"%1","tokenStorage":"file"})"_s.arg(
            fpA);
    struct Case {
        const char *name;
        QByteArray bytes;
        int bridgesKept;
    };
    const QList<Case> cases{
        {"not JSON", "{\"bridges\": [", 0},
        {"no list", "{\"version\":1}", 0},
        {"bridges not a list", "{\"bridges\":{}}", 0},
        {"bad entries left out",
         (u"{\"bridges\":["_s + entry + u",{\"id\":\"b\",\"host\":\"h\",\"port\":70000}"_s +
          u",{\"id\":\"c\",\"host\":\"h\",\"port\":1,\"fingerprint\":\"xyz\",\"tokenStorage\":\"file\"}]}"_s)
             .toUtf8(),
         1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        DesktopPairedBridgeStore probe(dir.path());
        writeFile(probe.filePath(), c.bytes);
        DesktopPairedBridgeStore store(dir.path());
        EXPECT_TRUE(store.loadProblem());
        EXPECT_EQ(store.bridges().size(), c.bridgesKept);
        EXPECT_EQ(contents(store.filePath()), c.bytes); // reading changes nothing
        store.add(bridgeAt(u"10.1.1.1"_s, 8800));
        EXPECT_EQ(contents(store.filePath() + u".unreadable"_s), c.bytes);
        EXPECT_EQ(DesktopPairedBridgeStore(dir.path()).bridges().size(), c.bridgesKept + 1);
    }
}

TEST_F(DesktopPairedBridgeStoreTest, FailedWriteChangesNothing) {
    // The data directory's place is taken by a plain file: nothing can be written there.
    writeFile(directory(), "in the way");
    DesktopPairedBridgeStore store(directory());
    EXPECT_THROW(store.add(bridgeAt(u"10.1.1.1"_s, 8800)), DesktopPairedBridgeStoreError);
    EXPECT_TRUE(store.bridges().isEmpty());
}

TEST_F(DesktopPairedBridgeStoreTest, FileFallbackKeepsTokensPrivateAndApart) {
    DesktopPairedBridgeStore store(directory());
    DesktopBridgeTokenVault vault(directory(), u"org.rirudez.Desktop.test"_s, /*useKeychain=*/false);
    const QString secret = u"tok-c0ffee-secret"_s;
    auto bridge = store.add(bridgeAt(u"10.1.1.1"_s, 8800));

    const auto where = testing::runTask(vault.store(bridge.id, secret));
    ASSERT_TRUE(where);
    EXPECT_EQ(*where, DesktopTokenStorage::file);
    EXPECT_TRUE(vault.keychainProblem());
    bridge.tokenStorage = *where;
    store.add(bridge);

    EXPECT_EQ(testing::runTask(vault.token(bridge.id, DesktopTokenStorage::file)).value_or(std::nullopt),
              secret);
    EXPECT_EQ(modeOf(vault.fallbackFilePath()), mode_t(0600));
    EXPECT_FALSE(contents(store.filePath()).contains(secret.toUtf8()));
    EXPECT_FALSE(QString::fromUtf8(vault.keychainProblem().value_or(QString()).toUtf8()).contains(secret));

    // A second bridge's token sits beside the first; removing one keeps the other.
    ASSERT_TRUE(testing::runTask(vault.store(u"other"_s, u"tok-2"_s)));
    ASSERT_TRUE(testing::runTask(vault.remove(bridge.id, DesktopTokenStorage::file)));
    EXPECT_EQ(testing::runTask(vault.token(bridge.id, DesktopTokenStorage::file)).value_or(u"?"_s),
              std::nullopt);
    EXPECT_EQ(testing::runTask(vault.token(u"other"_s, DesktopTokenStorage::file)).value_or(std::nullopt),
              u"tok-2"_s);
}

TEST_F(DesktopPairedBridgeStoreTest, NoSecretServiceFallsBackToTheFile) {
    // No session bus at all: the keychain fails at once, the token still lands (in the file).
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DISPLAY");
    qputenv("XDG_RUNTIME_DIR", temp.path().toUtf8());
    DesktopBridgeTokenVault vault(directory(), u"org.rirudez.Desktop.test"_s);
    const auto where = testing::runTask(vault.store(u"b1"_s, u"tok-3"_s));
    ASSERT_TRUE(where);
    EXPECT_EQ(*where, DesktopTokenStorage::file);
    EXPECT_TRUE(vault.keychainProblem());
    EXPECT_EQ(testing::runTask(vault.token(u"b1"_s, DesktopTokenStorage::file)).value_or(std::nullopt),
              u"tok-3"_s);
}

} // namespace
} // namespace rirudez
