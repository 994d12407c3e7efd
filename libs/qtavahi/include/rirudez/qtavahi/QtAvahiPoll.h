#pragma once

// An AvahiPoll that runs on Qt's event loop: file descriptor watches are QSocketNotifiers, timeouts are
// precise single-shot QTimers. No extra thread; every Avahi callback runs on the thread that created the
// poll, from that thread's event loop.
//
//     QtAvahiPoll poll;
//     AvahiClient *client = avahi_client_new(poll.avahiPoll(), AVAHI_CLIENT_NO_FAIL, callback, data, &error);
//
// Most code wants QtAvahiClient, which owns a poll and a client together. The poll must outlive every
// Avahi object made on it (free the client first). Not copyable, not movable: Avahi keeps its address.

#include <memory>

struct AvahiPoll;

namespace rirudez::qtavahi {

namespace detail {
struct PollState;
}

class QtAvahiPoll {
public:
    QtAvahiPoll();
    ~QtAvahiPoll();
    QtAvahiPoll(const QtAvahiPoll &) = delete;
    QtAvahiPoll &operator=(const QtAvahiPoll &) = delete;

    // The vtable to hand to avahi_client_new().
    const AvahiPoll *avahiPoll() const;

    // Watches and timeouts Avahi currently holds on this poll (freed ones excluded).
    int watchCount() const;
    int timeoutCount() const;

private:
    std::unique_ptr<detail::PollState> m_state;
};

} // namespace rirudez::qtavahi
