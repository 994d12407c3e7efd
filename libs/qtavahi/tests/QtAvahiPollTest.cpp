// The poll on Qt's event loop, driven the way Avahi drives it (including freeing from inside callbacks), and
// the client wrapper on a machine without any D-Bus system bus.
#include "rirudez/qtavahi/QtAvahiPoll.h"
#include "rirudez/qtavahi/QtAvahiClient.h"

#include <QCoreApplication>
#include <QTest>

#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <vector>

using namespace rirudez::qtavahi;

namespace {

QCoreApplication &app() {
    static int argc = 1;
    static char name[] = "qtavahi-test";
    static char *argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

struct SocketPair {
    std::array<int, 2> fd{-1, -1};
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd.data()), 0); }
    ~SocketPair() {
        ::close(fd[0]);
        ::close(fd[1]);
    }
    void send() const { ASSERT_EQ(::write(fd[1], "x", 1), 1); }
};

// What a callback saw, and what it should do to its watch or timeout while it runs.
struct Record {
    const AvahiPoll *api = nullptr;
    std::vector<AvahiWatchEvent> events;
    std::vector<AvahiWatchEvent> reported; // watch_get_events() inside the callback
    int fired = 0;
    bool freeInside = false;
    bool rearmInside = false;
    bool early = false;
    timeval due{};
};

void onWatch(AvahiWatch *watch, int fd, AvahiWatchEvent event, void *userdata) {
    auto *record = static_cast<Record *>(userdata);
    record->events.push_back(event);
    record->reported.push_back(record->api->watch_get_events(watch));
    if (event & AVAHI_WATCH_IN) {
        char buffer[16];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
    }
    if (record->freeInside)
        record->api->watch_free(watch);
}

void onTimeout(AvahiTimeout *timeout, void *userdata) {
    auto *record = static_cast<Record *>(userdata);
    ++record->fired;
    if (avahi_age(&record->due) < 0)
        record->early = true;
    if (record->rearmInside && record->fired < 3) {
        avahi_elapse_time(&record->due, 5, 0);
        record->api->timeout_update(timeout, &record->due);
    } else if (record->freeInside) {
        record->api->timeout_free(timeout);
    }
}

// Runs the event loop until `done` or a deadline, then lets one more round of pending events through.
bool spinUntil(const std::function<bool()> &done) {
    app();
    const bool ok = QTest::qWaitFor(done, 5000);
    QCoreApplication::processEvents();
    return ok;
}

TEST(QtAvahiPoll, WatchReportsReadinessAndFollowsUpdates) {
    app();
    QtAvahiPoll poll;
    const AvahiPoll *api = poll.avahiPoll();
    SocketPair pair;
    Record record{api};
    AvahiWatch *watch = api->watch_new(api, pair.fd[0], AVAHI_WATCH_IN, onWatch, &record);
    EXPECT_EQ(poll.watchCount(), 1);

    pair.send();
    ASSERT_TRUE(spinUntil([&] { return !record.events.empty(); }));
    ASSERT_EQ(record.events, std::vector<AvahiWatchEvent>{AVAHI_WATCH_IN});
    EXPECT_EQ(record.reported, std::vector<AvahiWatchEvent>{AVAHI_WATCH_IN});

    // Switched to writing only: a readable descriptor no longer calls back for reading.
    api->watch_update(watch, AVAHI_WATCH_OUT);
    pair.send();
    ASSERT_TRUE(spinUntil([&] { return record.events.size() >= 2; }));
    for (std::size_t i = 1; i < record.events.size(); ++i) {
        EXPECT_EQ(record.events[i], AVAHI_WATCH_OUT);
        EXPECT_EQ(record.reported[i], AVAHI_WATCH_OUT);
    }

    // Nothing wanted: silent even though readable and writable.
    api->watch_update(watch, AvahiWatchEvent(0));
    const std::size_t seen = record.events.size();
    pair.send();
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
    EXPECT_EQ(record.events.size(), seen);

    api->watch_free(watch);
    EXPECT_EQ(poll.watchCount(), 0);
}

TEST(QtAvahiPoll, WatchAndTimeoutMayFreeThemselvesFromTheirCallback) {
    app();
    QtAvahiPoll poll;
    const AvahiPoll *api = poll.avahiPoll();
    SocketPair pair;
    Record watchRecord{api};
    watchRecord.freeInside = true;
    api->watch_new(api, pair.fd[0], AvahiWatchEvent(AVAHI_WATCH_IN | AVAHI_WATCH_OUT), onWatch, &watchRecord);
    Record timeoutRecord{api};
    timeoutRecord.freeInside = true;
    gettimeofday(&timeoutRecord.due, nullptr);
    api->timeout_new(api, &timeoutRecord.due, onTimeout, &timeoutRecord);
    pair.send();

    ASSERT_TRUE(spinUntil([&] { return !watchRecord.events.empty() && timeoutRecord.fired == 1; }));
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
    // Once each: the freed watch and timeout never call back again (a use after free would trip ASan).
    EXPECT_EQ(watchRecord.events.size(), 1u);
    EXPECT_EQ(timeoutRecord.fired, 1);
    EXPECT_EQ(poll.watchCount(), 0);
    EXPECT_EQ(poll.timeoutCount(), 0);
}

TEST(QtAvahiPoll, TimeoutFiresOnceAtItsTimeAndOnlyAgainWhenRearmed) {
    app();
    QtAvahiPoll poll;
    const AvahiPoll *api = poll.avahiPoll();

    Record disabled{api};
    AvahiTimeout *idle = api->timeout_new(api, nullptr, onTimeout, &disabled);

    Record periodic{api};
    periodic.rearmInside = true;
    avahi_elapse_time(&periodic.due, 20, 0);
    AvahiTimeout *repeating = api->timeout_new(api, &periodic.due, onTimeout, &periodic);

    ASSERT_TRUE(spinUntil([&] { return periodic.fired == 3; }));
    EXPECT_FALSE(periodic.early);
    EXPECT_EQ(disabled.fired, 0);

    // Armed later, then disarmed before it is due: never fires.
    timeval later{};
    avahi_elapse_time(&later, 0, 0);
    api->timeout_update(idle, &later);
    api->timeout_update(idle, nullptr);
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
    EXPECT_EQ(disabled.fired, 0);
    EXPECT_EQ(periodic.fired, 3);
    EXPECT_EQ(poll.timeoutCount(), 2);
    api->timeout_free(idle);
    api->timeout_free(repeating);
    EXPECT_EQ(poll.timeoutCount(), 0);
}

// With no system bus at all the client cannot be made; that is a state with a reason, logged once.
TEST(QtAvahiClient, WithoutSystemBusIsUnreachableAndWarnsOnce) {
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/rirudez-test-bus");
    app();
    static QStringList warnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (type == QtWarningMsg && QByteArrayView(context.category) == "rirudez.avahi")
                warnings.append(text);
        });
    {
        QtAvahiClient first;
        QtAvahiClient second;
        EXPECT_EQ(first.client(), nullptr);
        EXPECT_FALSE(first.isReachable());
        EXPECT_FALSE(second.isReachable());
        EXPECT_EQ(first.state(), AVAHI_CLIENT_FAILURE);
        EXPECT_TRUE(first.problem().contains(QStringLiteral("D-Bus")));
    }
    qInstallMessageHandler(previous);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.front().contains(QStringLiteral("avahi-daemon")));
}

} // namespace
