// The bridge state sources over real temporary state directories: the pairing read from the token and
// fingerprint files, session recency from the files' modification times, and the conversation question,
// whose incremental scan must answer exactly what a full read of the log answers.

#include "DesktopCodingBridgeHealthSource.h"

#include "rirudez/bridgekit/BridgeClientError.h"

#include "support/EventLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <random>

using namespace Qt::StringLiterals;
using namespace rirudez;
using Code = DesktopCodingBridgeStateFileError::Code;

namespace {

// Timers and the event loop need the application object.
struct QtApplication : ::testing::Environment {
    void SetUp() override { rirudez::testing::ensureCoreApplication(); }
};
const auto *const qtApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

void writeFile(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

void appendFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

void setModificationTime(const QString &path, const QDateTime &time) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
}

QDateTime at(int minute) {
    return QDateTime(QDate(2026, 3, 14), QTime(10, 0, 0, 250), Qt::UTC).addSecs(qint64(minute) * 60);
}

class StateDirectory : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString root() const { return m_dir.path(); }
    QString eventsLog(const QString &sessionID) const {
        return path(u"sessions/"_s + sessionID + u"/events.jsonl"_s);
    }
    QString sessionRecord(const QString &sessionID) const {
        return path(u"sessions/"_s + sessionID + u"/session.json"_s);
    }

private:
    QTemporaryDir m_dir;
};

// ---------------------------------------------------------------------------------------------------------
// Pairing.

class Pairing_ : public StateDirectory {};

TEST_F(Pairing_, TrimsTheTokenAndTrimsAndLowerCasesTheFingerprint) {
    writeFile(path(u"token"_s), "  \t secret token-\xC3\xA9\r\n\n");
    writeFile(path(u"fingerprint"_s), "\nAB12CDEF0099ab\n");
    LocalDesktopCodingBridgeHealthSource source(root(), u"127.0.0.1"_s, 45678);
    const Pairing pairing = source.loadPairing();
    EXPECT_EQ(pairing, (Pairing{u"127.0.0.1"_s, 45678, u"secret token-\u00e9"_s, u"ab12cdef0099ab"_s}));
}

struct PairingFailureCase {
    const char *name;
    std::optional<QByteArray> token;       // absent: no file
    std::optional<QByteArray> fingerprint; // absent: no file
    Code expected;
    const char *failingFile;
};

class PairingFailure : public StateDirectory, public ::testing::WithParamInterface<PairingFailureCase> {};

TEST_P(PairingFailure, FailsWithTheFileAndNeverShowsTheToken) {
    const PairingFailureCase &c = GetParam();
    if (c.token)
        writeFile(path(u"token"_s), *c.token);
    if (c.fingerprint)
        writeFile(path(u"fingerprint"_s), *c.fingerprint);
    LocalDesktopCodingBridgeHealthSource source(root(), u"127.0.0.1"_s, 8800);
    try {
        source.loadPairing();
        FAIL() << "loadPairing succeeded";
    } catch (const DesktopCodingBridgeStateFileError &error) {
        EXPECT_EQ(error.code(), c.expected) << error.what();
        EXPECT_EQ(error.path(), path(QString::fromLatin1(c.failingFile)));
        EXPECT_TRUE(error.localizedDescription().contains(error.path()));
        EXPECT_FALSE(error.localizedDescription().contains(u"hush-hush"_s));
        EXPECT_FALSE(error.diagnosticText().contains(u"hush-hush"_s));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PairingFailure,
                         ::testing::Values(PairingFailureCase{"BlankToken", " \n\t\r\n", "abc",
                                                              Code::fileReadCorruptFile, "token"},
                                           PairingFailureCase{"MissingToken", std::nullopt, "abc",
                                                              Code::fileReadNoSuchFile, "token"},
                                           PairingFailureCase{"BlankFingerprint", "hush-hush", "\n \n",
                                                              Code::fileReadCorruptFile, "fingerprint"},
                                           PairingFailureCase{"MissingFingerprint", "hush-hush", std::nullopt,
                                                              Code::fileReadNoSuchFile, "fingerprint"},
                                           PairingFailureCase{"TokenNotUtf8", QByteArray("tok\xFF\xFE"),
                                                              "abc", Code::fileReadInapplicableStringEncoding,
                                                              "token"},
                                           PairingFailureCase{"TokenTooLarge", QByteArray(70 * 1024, 'x'),
                                                              "abc", Code::fileReadTooLarge, "token"}),
                         [](const auto &caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(Pairing_, LoadHealthPassesOnAPairingFailureAndAStateDirectoryThatIsWrong) {
    QDir().mkpath(path(u"token"_s)); // a directory where the token file belongs
    writeFile(path(u"fingerprint"_s), "abc");
    LocalDesktopCodingBridgeHealthSource source(root(), u"127.0.0.1"_s, 8800);
    EXPECT_THROW(rirudez::testing::runTask(source.loadHealth()), DesktopCodingBridgeStateFileError);
}

TEST_F(Pairing_, LoadHealthAsksTheBridgeWithTheCredentialsOfTheStateDirectory) {
    rirudez::testing::InProcessBridge bridge;
    ASSERT_TRUE(bridge.isRunning());
    // The bridge's own files, and a copy written by hand: padded, fingerprint in upper case.
    LocalDesktopCodingBridgeHealthSource own(bridge.stateDirectory(), bridge.host(), bridge.port());
    EXPECT_EQ(own.loadPairing(),
              (Pairing{bridge.host(), bridge.port(), bridge.token(), bridge.fingerprint()}));
    writeFile(path(u"token"_s), "\n  " + bridge.token().toUtf8() + "  \n");
    writeFile(path(u"fingerprint"_s), " " + bridge.fingerprint().toUpper().toUtf8() + "\n");
    LocalDesktopCodingBridgeHealthSource copy(root(), bridge.host(), bridge.port());

    for (LocalDesktopCodingBridgeHealthSource *source : {&own, &copy}) {
        const std::optional<BridgeHealth> health = rirudez::testing::runTask(source->loadHealth());
        ASSERT_TRUE(health);
        EXPECT_TRUE(health->ok);
        EXPECT_EQ(health->protocol, bridgeProtocolVersion);
        EXPECT_FALSE(health->projects.isEmpty());
    }
}

TEST_F(Pairing_, LoadHealthPassesOnTheProbesRefusal) {
    rirudez::testing::InProcessBridge bridge;
    ASSERT_TRUE(bridge.isRunning());
    writeFile(path(u"token"_s), "not-the-token\n");
    writeFile(path(u"fingerprint"_s), bridge.fingerprint().toUtf8());
    LocalDesktopCodingBridgeHealthSource source(root(), bridge.host(), bridge.port());
    try {
        rirudez::testing::runTask(source.loadHealth());
        FAIL() << "the health probe succeeded with a wrong token";
    } catch (const BridgeClientError &error) {
        EXPECT_TRUE(error.is<BridgeClientError::Unauthorized>()) << error.what();
    }
}

// ---------------------------------------------------------------------------------------------------------
// Recency.

class Recency : public StateDirectory {};

TEST_F(Recency, TheLaterOfTheTwoFilesCountsWhicheverItIs) {
    LocalDesktopCodingBridgeSessionRecencySource source(root());
    writeFile(sessionRecord(u"s1"_s), "{}");
    writeFile(eventsLog(u"s1"_s), "");
    setModificationTime(sessionRecord(u"s1"_s), at(5));
    setModificationTime(eventsLog(u"s1"_s), at(7));
    EXPECT_EQ(source.updatedAt(u"s1"_s), at(7));
    setModificationTime(sessionRecord(u"s1"_s), at(9));
    EXPECT_EQ(source.updatedAt(u"s1"_s), at(9));
    // Either file alone is enough; the id is trimmed.
    writeFile(eventsLog(u"only-log"_s), "{}\n");
    setModificationTime(eventsLog(u"only-log"_s), at(3));
    writeFile(sessionRecord(u"only-record"_s), "{}");
    setModificationTime(sessionRecord(u"only-record"_s), at(4));
    EXPECT_EQ(source.updatedAt(u"  only-log \n"_s), at(3));
    EXPECT_EQ(source.updatedAt(u"only-record"_s), at(4));
}

TEST_F(Recency, AbsentWithoutFilesAndForIdsThatAreNotOneComponent) {
    LocalDesktopCodingBridgeSessionRecencySource source(root());
    QDir().mkpath(path(u"sessions/empty"_s));
    writeFile(path(u"elsewhere/events.jsonl"_s), "{\"kind\":\"result\"}\n");
    writeFile(path(u"sessions/events.jsonl"_s), "{\"kind\":\"result\"}\n");
    for (const QString &id :
         {u"empty"_s, u"missing"_s, u""_s, u" \t\n"_s, u"../elsewhere"_s, u"."_s, u".."_s}) {
        EXPECT_EQ(source.updatedAt(id), std::nullopt) << id.toStdString();
        EXPECT_EQ(source.hasConversationEvents(id), std::nullopt) << id.toStdString();
    }
}

// ---------------------------------------------------------------------------------------------------------
// The conversation question over fixed logs.

struct ConversationCase {
    const char *name;
    QByteArray log;
    std::optional<bool> expected;
};

class ConversationLog : public StateDirectory, public ::testing::WithParamInterface<ConversationCase> {};

TEST_P(ConversationLog, AnswersFromTheMarkers) {
    writeFile(eventsLog(u"s"_s), GetParam().log);
    LocalDesktopCodingBridgeSessionRecencySource source(root());
    EXPECT_EQ(source.hasConversationEvents(u"s"_s), GetParam().expected);
    EXPECT_EQ(source.hasConversationEvents(u"s"_s), GetParam().expected); // the remembered answer
}

// The marker rules themselves are exercised by the randomized comparison below; these cases cover the text
// decoding and escaping it does not generate.
INSTANTIATE_TEST_SUITE_P(
    Cases, ConversationLog,
    ::testing::Values(
        ConversationCase{"Empty", "", false},
        ConversationCase{"Error", "{\"sequence\":9,\"kind\":\"error\",\"message\":\"boom\"}\n", true},
        ConversationCase{"EscapedInsideTextIsNotAMarker", "{\"text\":\"\\\"kind\\\":\\\"result\\\"\"}\n",
                         false},
        ConversationCase{"MultiByteText",
                         "{\"kind\":\"assistant_text\",\"text\":\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x8E\x89\"}\n",
                         true},
        ConversationCase{"InvalidUtf8", "{\"kind\":\"result\"}\n\xC3\x28\n", std::nullopt},
        ConversationCase{"EncodedSurrogate", "{\"kind\":\"result\",\"t\":\"\xED\xA0\x80\"}\n", std::nullopt},
        ConversationCase{"OverlongSlash", "{\"kind\":\"result\",\"t\":\"\xC0\xAF\"}\n", std::nullopt},
        ConversationCase{"CharacterCutAtTheEnd", "{\"kind\":\"result\"}\n{\"t\":\"\xF0\x9F\x8E",
                         std::nullopt},
        ConversationCase{"NonCharacterIsValid", "{\"kind\":\"result\",\"t\":\"\xEF\xBF\xBE\"}\n", true}),
    [](const auto &caseInfo) { return std::string(caseInfo.param.name); });

// ---------------------------------------------------------------------------------------------------------
// The incremental scan.

// What reading the whole log as UTF-8 text and searching it answers; the scan must agree with it.
std::optional<bool> fullScan(const QString &path) {
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(file.readAll());
    if (decoder.hasError())
        return std::nullopt;
    for (const QString &marker : {u"\"kind\":\"user_message\""_s, u"\"kind\":\"assistant_text\""_s,
                                  u"\"kind\":\"result\""_s, u"\"kind\":\"error\""_s}) {
        if (text.contains(marker))
            return true;
    }
    return false;
}

qint64 nanoseconds(const timespec &time) {
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// Waits until the clock files are stamped with has moved past the log's timestamps, so a scan made from
// now on may trust them.
void waitUntilTimestampsArePast(const QString &path) {
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0);
    const qint64 stamped = std::max(nanoseconds(status.st_mtim), nanoseconds(status.st_ctim));
    ASSERT_TRUE(QTest::qWaitFor(
        [stamped] {
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
            return nanoseconds(now) > stamped;
        },
        5000));
}

// Rewrites the file in place (same inode), as a writer that truncates and writes anew does.
void rewriteInPlace(const QString &path, const QByteArray &bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

void truncateTo(const QString &path, qint64 size) {
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), size), 0);
}

// Replaces the file by a new one (a new inode), as a writer that renames a finished file over it does.
void replaceFile(const QString &path, const QByteArray &bytes) {
    const QString fresh = path + u".new"_s;
    writeFile(fresh, bytes);
    ASSERT_EQ(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()), 0);
}

QByteArray statusPadding(qint64 atLeast) {
    QByteArray bytes;
    for (int sequence = 0; bytes.size() < atLeast; ++sequence)
        bytes +=
            "{\"kind\":\"status\",\"state\":\"working\",\"sequence\":" + QByteArray::number(sequence) + "}\n";
    return bytes;
}

class IncrementalScan : public StateDirectory {
protected:
    QString log() const { return eventsLog(u"s"_s); }
    std::optional<bool> ask() { return source.hasConversationEvents(u"s"_s); }
    quint64 readSince(quint64 before) const { return source.bytesRead() - before; }

    LocalDesktopCodingBridgeSessionRecencySource source{root(), std::chrono::milliseconds(0)};
};

TEST_F(IncrementalScan, FindsAMarkerSplitAcrossTheOldEndReadingOnlyTheAppendedBytes) {
    const QByteArray start = statusPadding(200'000) + "{\"kind\":\"assis";
    writeFile(log(), start);
    EXPECT_EQ(ask(), false);
    EXPECT_EQ(source.bytesRead(), quint64(start.size()));

    const QByteArray rest = "tant_text\",\"text\":\"hello\"}\n";
    const quint64 before = source.bytesRead();
    appendFile(log(), rest);
    EXPECT_EQ(ask(), true);
    EXPECT_GE(readSince(before), quint64(rest.size()));
    EXPECT_LE(readSince(before), quint64(rest.size()) + 64);
}

TEST_F(IncrementalScan, AnUnchangedLogIsNotReadOnceItsTimestampsAreInThePast) {
    writeFile(log(), statusPadding(50'000));
    EXPECT_EQ(ask(), false);
    waitUntilTimestampsArePast(log());
    EXPECT_EQ(ask(), false); // written during the first scan's clock tick: read once more
    const quint64 before = source.bytesRead();
    EXPECT_EQ(ask(), false);
    EXPECT_EQ(ask(), false);
    EXPECT_EQ(readSince(before), 0u);
}

TEST_F(IncrementalScan, ALogWithWholeSecondTimesIsReadAgainWhileTheyAreRecent) {
    // Whole-second times suggest a file system that keeps no more: two seconds must pass before an unchanged
    // status is trusted.
    const QByteArray content = statusPadding(20'000);
    writeFile(log(), content);
    const QDateTime whole = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    setModificationTime(log(), whole);
    ASSERT_EQ(QFileInfo(log()).lastModified().toMSecsSinceEpoch() % 1000, 0);
    EXPECT_EQ(ask(), false);
    waitUntilTimestampsArePast(log());
    EXPECT_EQ(ask(), false);
    const quint64 before = source.bytesRead();
    EXPECT_EQ(ask(), false);
    EXPECT_EQ(readSince(before), quint64(content.size())) << "trusted a whole-second time at once";
}

TEST_F(IncrementalScan, ASameSizeRewriteOfATrustedLogIsNoticed) {
    const QByteArray without = "{\"kind\":\"status\",\"x\":1}\n";
    const QByteArray with = "{\"kind\":\"result\",\"x\":1}\n";
    ASSERT_EQ(without.size(), with.size());
    writeFile(log(), without);
    EXPECT_EQ(ask(), false);
    waitUntilTimestampsArePast(log());
    EXPECT_EQ(ask(), false);
    rewriteInPlace(log(), with);
    EXPECT_EQ(ask(), true);
}

TEST_F(IncrementalScan, ALogThatCannotBeReadIsUnknownAndReadAgainWhenItCanBe) {
    writeFile(log(), "{\"kind\":\"result\"}\n");
    EXPECT_EQ(ask(), true);
    ASSERT_TRUE(QFile::remove(log()));
    EXPECT_EQ(ask(), std::nullopt);
    QDir().mkpath(log());
    EXPECT_EQ(ask(), std::nullopt);
    ASSERT_TRUE(QDir(log()).removeRecursively());
    writeFile(log(), "{\"kind\":\"status\"}\n");
    EXPECT_EQ(ask(), false);
}

// Random appends (whole and cut lines, markers split anywhere, multi-byte characters cut anywhere, a rare
// invalid byte), truncations, in-place rewrites, replacements and deletions over a few logs; after every
// step both sources (timestamps trusted at once, and at the two-second default) must answer what a full
// read answers, for every log.
TEST_F(IncrementalScan, AgreesWithAFullReadOverRandomHistories) {
    std::mt19937 random(20261205);
    const QList<QByteArray> lines{
        "{\"kind\":\"status\",\"state\":\"working\"}\n",
        "{\"kind\":\"tool_use\",\"name\":\"bash\",\"input\":\"ls -la\"}\n",
        "{\"kind\":\"file_created\",\"name\":\"r\xC3\xA9sum\xC3\xA9.md\"}\n",
        "{\"kind\":\"status\",\"text\":\"\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x8E\x89 e\xCC\x81\"}\n",
        "{\"kind\": \"result\"}\n",
        "{\"kind\":\"result_summary\"}\n",
        "{\"kind\":\"user_message\",\"text\":\"hi\"}\n",
        "{\"kind\":\"assistant_text\",\"text\":\"\xF0\x9F\x91\x8D\"}\n",
        "{\"kind\":\"result\",\"usage\":{}}\n",
        "{\"kind\":\"error\",\"message\":\"x\"}\n",
    };
    auto pick = [&random](int bound) {
        return int(std::uniform_int_distribution<int>(0, bound - 1)(random));
    };
    auto someLines = [&] {
        QByteArray bytes;
        const int count = 1 + pick(4);
        for (int i = 0; i < count; ++i)
            bytes += lines[pick(10) < 8 ? pick(6) : 6 + pick(4)]; // markers are the rarer lines
        return bytes;
    };

    const QStringList ids{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
    LocalDesktopCodingBridgeSessionRecencySource trusting(root(), std::chrono::milliseconds(0));
    LocalDesktopCodingBridgeSessionRecencySource cautious(root(), std::chrono::seconds(2));
    QHash<QString, QByteArray> pendingTail; // the rest of a line cut by the previous append

    for (int step = 0; step < 600; ++step) {
        const QString &id = ids[pick(ids.size())];
        const QString path = eventsLog(id);
        const qint64 size = QFileInfo(path).exists() ? QFileInfo(path).size() : -1;
        const int operation = size < 0 ? 0 : pick(100);
        if (operation < 55 || size < 0) {
            // Append: whole lines, or lines cut anywhere with the rest following next time.
            QByteArray bytes = pendingTail.take(id) + someLines();
            if (pick(2) == 0) {
                const int cut = pick(int(bytes.size()));
                pendingTail.insert(id, bytes.mid(cut));
                bytes.truncate(cut);
            }
            if (pick(60) == 0)
                bytes += '\xFE';
            if (size < 0)
                writeFile(path, bytes);
            else
                appendFile(path, bytes);
        } else if (operation < 70) {
            truncateTo(path, pick(int(size) + 1));
            pendingTail.remove(id);
        } else if (operation < 82) {
            // Rewrite in place: often to exactly the old size.
            QByteArray bytes = someLines() + someLines();
            if (pick(2) == 0) {
                bytes = bytes.leftJustified(size, '\n', true);
            }
            rewriteInPlace(path, bytes);
            pendingTail.remove(id);
        } else if (operation < 94) {
            replaceFile(path, someLines());
            pendingTail.remove(id);
        } else {
            ASSERT_TRUE(QFile::remove(path));
            pendingTail.remove(id);
        }

        for (const QString &asked : ids) {
            const std::optional<bool> expected = fullScan(eventsLog(asked));
            ASSERT_EQ(trusting.hasConversationEvents(asked), expected)
                << "step " << step << " log " << asked.toStdString();
            ASSERT_EQ(cautious.hasConversationEvents(asked), expected)
                << "step " << step << " log " << asked.toStdString();
        }
    }
}

} // namespace
