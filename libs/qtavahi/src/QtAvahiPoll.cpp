#include "rirudez/qtavahi/QtAvahiPoll.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>

#include <chrono>
#include <limits>

namespace rirudez::qtavahi::detail {

struct PollState {
    AvahiPoll vtable{};
    // Parent of every notifier and timer, so whatever Avahi leaves behind goes with the poll.
    QObject owner;
    int watches = 0;
    int timeouts = 0;
};

} // namespace rirudez::qtavahi::detail

using rirudez::qtavahi::detail::PollState;

// Avahi declares these as opaque; the poll implementation defines them.
struct AvahiWatch {
    PollState *poll = nullptr;
    int fd = -1;
    AvahiWatchEvent wanted = AvahiWatchEvent(0);
    AvahiWatchEvent current = AvahiWatchEvent(0); // what the running callback was called for
    AvahiWatchCallback callback = nullptr;
    void *userdata = nullptr;
    QSocketNotifier *reader = nullptr;
    QSocketNotifier *writer = nullptr;
};

struct AvahiTimeout {
    PollState *poll = nullptr;
    AvahiTimeoutCallback callback = nullptr;
    void *userdata = nullptr;
    QTimer *timer = nullptr;
};

namespace rirudez::qtavahi {

namespace {

PollState *stateOf(const AvahiPoll *api) {
    return static_cast<PollState *>(api->userdata);
}

// A notifier or timer may be the sender of the signal that is running right now (Avahi frees watches and
// timeouts from inside their own callbacks): silence it at once and let the event loop delete it.
void retire(QObject *object) {
    if (!object)
        return;
    QObject::disconnect(object, nullptr, nullptr, nullptr);
    object->deleteLater();
}

void dispatch(AvahiWatch *watch, AvahiWatchEvent event) {
    watch->current = event;
    // The callback may free the watch: nothing of it is touched afterwards.
    watch->callback(watch, watch->fd, event, watch->userdata);
}

void applyEvents(AvahiWatch *watch) {
    const bool wantRead = watch->wanted & (AVAHI_WATCH_IN | AVAHI_WATCH_HUP | AVAHI_WATCH_ERR);
    const bool wantWrite = watch->wanted & AVAHI_WATCH_OUT;
    if (wantRead && !watch->reader) {
        watch->reader = new QSocketNotifier(qintptr(watch->fd), QSocketNotifier::Read, &watch->poll->owner);
        // A hang-up or an error makes the descriptor readable; reading tells Avahi which it was.
        QObject::connect(watch->reader, &QSocketNotifier::activated, watch->reader,
                         [watch] { dispatch(watch, AVAHI_WATCH_IN); });
    }
    if (wantWrite && !watch->writer) {
        watch->writer = new QSocketNotifier(qintptr(watch->fd), QSocketNotifier::Write, &watch->poll->owner);
        QObject::connect(watch->writer, &QSocketNotifier::activated, watch->writer,
                         [watch] { dispatch(watch, AVAHI_WATCH_OUT); });
    }
    if (watch->reader)
        watch->reader->setEnabled(wantRead);
    if (watch->writer)
        watch->writer->setEnabled(wantWrite);
}

AvahiWatch *watchNew(const AvahiPoll *api, int fd, AvahiWatchEvent event, AvahiWatchCallback callback,
                     void *userdata) {
    PollState *state = stateOf(api);
    auto *watch = new AvahiWatch{state, fd, event, AvahiWatchEvent(0), callback, userdata, nullptr, nullptr};
    applyEvents(watch);
    ++state->watches;
    return watch;
}

void watchUpdate(AvahiWatch *watch, AvahiWatchEvent event) {
    watch->wanted = event;
    applyEvents(watch);
}

AvahiWatchEvent watchGetEvents(AvahiWatch *watch) {
    return watch->current;
}

void watchFree(AvahiWatch *watch) {
    retire(watch->reader);
    retire(watch->writer);
    --watch->poll->watches;
    delete watch;
}

// Avahi gives absolute wall-clock times (gettimeofday); QTimer wants a delay.
std::chrono::milliseconds delayUntil(const struct timeval &when) {
    const AvahiUsec late = avahi_age(&when); // microseconds since `when`, negative while it is ahead
    if (late >= 0)
        return std::chrono::milliseconds(0);
    const AvahiUsec ahead = -late;
    const AvahiUsec ms = (ahead + 999) / 1000; // never fire early
    return std::chrono::milliseconds(std::min<AvahiUsec>(ms, std::numeric_limits<int>::max()));
}

void timeoutUpdate(AvahiTimeout *timeout, const struct timeval *when) {
    if (!when) {
        timeout->timer->stop();
        return;
    }
    timeout->timer->start(delayUntil(*when));
}

AvahiTimeout *timeoutNew(const AvahiPoll *api, const struct timeval *when, AvahiTimeoutCallback callback,
                         void *userdata) {
    PollState *state = stateOf(api);
    auto *timeout = new AvahiTimeout{state, callback, userdata, new QTimer(&state->owner)};
    timeout->timer->setSingleShot(true);
    timeout->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timeout->timer, &QTimer::timeout, timeout->timer, [timeout] {
        // Disabled once expired until timeout_update(); the callback may also free it.
        timeout->callback(timeout, timeout->userdata);
    });
    timeoutUpdate(timeout, when);
    ++state->timeouts;
    return timeout;
}

void timeoutFree(AvahiTimeout *timeout) {
    timeout->timer->stop();
    retire(timeout->timer);
    --timeout->poll->timeouts;
    delete timeout;
}

} // namespace

QtAvahiPoll::QtAvahiPoll() : m_state(std::make_unique<detail::PollState>()) {
    AvahiPoll &api = m_state->vtable;
    api.userdata = m_state.get();
    api.watch_new = watchNew;
    api.watch_update = watchUpdate;
    api.watch_get_events = watchGetEvents;
    api.watch_free = watchFree;
    api.timeout_new = timeoutNew;
    api.timeout_update = timeoutUpdate;
    api.timeout_free = timeoutFree;
}

QtAvahiPoll::~QtAvahiPoll() = default;

const AvahiPoll *QtAvahiPoll::avahiPoll() const {
    return &m_state->vtable;
}

int QtAvahiPoll::watchCount() const {
    return m_state->watches;
}

int QtAvahiPoll::timeoutCount() const {
    return m_state->timeouts;
}

} // namespace rirudez::qtavahi
