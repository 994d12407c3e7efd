// The activity log's file: written atomically in the stored form, read back at the next start, capped,
// and a damaged file set aside with one notice.

#include "DesktopBridgeActivityStore.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

DesktopBridgeActivity entry(const QString &id) {
    return DesktopBridgeActivity{id,
                                 DesktopBridgeActivityKind::toolUse,
                                 u"Bash"_s,
                                 u"demo"_s,
                                 {},
                                 {},
                                 QDateTime::fromMSecsSinceEpoch(1'765'000'000'000, Qt::UTC)};
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

TEST(ActivityStore, AppendsAreOnDiskAndReadBackByTheNextStart) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"nested/bridge-activity.json"_s);
    {
        DesktopBridgeActivityStore store(path);
        store.load();
        EXPECT_TRUE(store.log().isEmpty());
        EXPECT_TRUE(store.append(entry(u"a"_s)));
        EXPECT_FALSE(store.append(entry(u"a"_s))); // the same event is logged once
        EXPECT_TRUE(store.append(entry(u"b"_s)));
        const auto onDisk = decodeDesktopBridgeActivityLog(contents(path));
        ASSERT_TRUE(onDisk);
        EXPECT_EQ(*onDisk, store.log());
    }
    DesktopBridgeActivityStore next(path);
    next.load();
    ASSERT_EQ(next.log().entries.size(), 2);
    EXPECT_EQ(next.log().latest()->id, u"b"_s);
    EXPECT_TRUE(next.notice().isEmpty());
    EXPECT_TRUE(next.setAsidePath().isEmpty());
}

// A replay logs hundreds of activities at once: they are written with one save and announced once, each id
// once, the newest up to the capacity.
TEST(ActivityStore, SeveralEntriesAreAppendedWithOneWrite) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"log.json"_s);
    DesktopBridgeActivityStore store(path, 4);
    store.append(entry(u"a"_s));
    QSignalSpy changed(&store, &DesktopBridgeActivityStore::logChanged);
    const QList<DesktopBridgeActivity> batch{entry(u"a"_s), entry(u"b"_s), entry(u"c"_s),
                                             entry(u"b"_s), entry(u"d"_s), entry(u"e"_s)};
    EXPECT_EQ(store.append(batch), 4);
    EXPECT_EQ(changed.count(), 1);
    QStringList ids;
    for (const DesktopBridgeActivity &kept : store.log().entries)
        ids.append(kept.id);
    EXPECT_EQ(ids, (QStringList{u"b"_s, u"c"_s, u"d"_s, u"e"_s}));
    const auto onDisk = decodeDesktopBridgeActivityLog(contents(path));
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(*onDisk, store.log());
    // Nothing new: no write, no announcement.
    EXPECT_EQ(store.append(QList<DesktopBridgeActivity>{entry(u"e"_s)}), 0);
    EXPECT_EQ(changed.count(), 1);
}

TEST(ActivityStore, KeepsOnlyTheNewestEntriesUpToItsCapacity) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"log.json"_s);
    DesktopBridgeActivityStore store(path, 3);
    for (int i = 0; i < 7; ++i)
        store.append(entry(QString::number(i)));
    const auto onDisk = decodeDesktopBridgeActivityLog(contents(path));
    ASSERT_TRUE(onDisk);
    ASSERT_EQ(onDisk->entries.size(), 3);
    EXPECT_EQ(onDisk->entries.first().id, u"4"_s);

    DesktopBridgeActivityStore smaller(path, 2); // a smaller cap applies to what is read as well
    smaller.load();
    ASSERT_EQ(smaller.log().entries.size(), 2);
    EXPECT_EQ(smaller.log().entries.first().id, u"5"_s);
}

class DamagedFile : public ::testing::TestWithParam<QByteArray> {};

TEST_P(DamagedFile, IsSetAsideUntouchedAndTheUserIsToldOnce) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"bridge-activity.json"_s);
    write(path, GetParam());
    {
        DesktopBridgeActivityStore store(path);
        QSignalSpy notices(&store, &DesktopBridgeActivityStore::noticeChanged);
        store.load();
        EXPECT_TRUE(store.log().isEmpty());
        ASSERT_FALSE(store.setAsidePath().isEmpty());
        EXPECT_EQ(contents(store.setAsidePath()), GetParam()); // nothing lost
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_TRUE(store.notice().contains(u"could not be read"_s));
        EXPECT_EQ(notices.count(), 1);
        store.append(entry(u"after"_s)); // a fresh log starts beside the kept file
        EXPECT_TRUE(decodeDesktopBridgeActivityLog(contents(path)));
        store.dismissNotice();
        EXPECT_TRUE(store.notice().isEmpty());
    }
    DesktopBridgeActivityStore next(path);
    next.load();
    EXPECT_TRUE(next.notice().isEmpty());
    EXPECT_EQ(next.log().entries.size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, DamagedFile,
    ::testing::Values(QByteArray("{\"entries\":[{\"id\":"), QByteArray("{}"),
                      QByteArray("{\"entries\":[{\"id\":\"a\",\"kind\":\"x\",\"summary\":\"\","
                                 "\"createdAt\":\"2026-12-06T00:00:00.000Z\"}]}"),
                      QByteArray("\xff\xfe\x00garbage", 10)));

TEST(ActivityStore, AFileTooLargeToBeALogIsSetAside) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"bridge-activity.json"_s);
    write(path, QByteArray(DesktopBridgeActivityStore::maximumFileBytes + 1, ' '));
    DesktopBridgeActivityStore store(path);
    store.load();
    EXPECT_FALSE(store.setAsidePath().isEmpty());
    EXPECT_FALSE(store.notice().isEmpty());
}

TEST(ActivityStore, AFailedWriteKeepsTheEntriesAndSaysSo) {
    QTemporaryDir dir;
    // The log's folder is a file: nothing can be written there.
    write(dir.filePath(u"blocked"_s), "x");
    DesktopBridgeActivityStore store(dir.filePath(u"blocked/bridge-activity.json"_s));
    EXPECT_TRUE(store.append(entry(u"a"_s)));
    EXPECT_EQ(store.log().entries.size(), 1);
    EXPECT_TRUE(store.notice().contains(u"could not be saved"_s));
}

} // namespace
} // namespace rirudez
