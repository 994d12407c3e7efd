#pragma once

// An Avahi client on Qt's event loop: owns a QtAvahiPoll and one AvahiClient made with
// AVAHI_CLIENT_NO_FAIL, so a missing avahi-daemon is a state, not an error.
//
//     QtAvahiClient avahi;
//     connect(&avahi, &QtAvahiClient::stateChanged, this, [&] { if (avahi.isReachable()) startBrowsing(); });
//     if (avahi.isReachable()) startBrowsing();   // known as soon as the constructor returns
//
// - No avahi-daemon (or no D-Bus system bus at all): isReachable() is false, problem() says why, and one
//   warning goes to the "rirudez.avahi" logging category (once per process, however many clients).
// - The daemon starting later: the client connects by itself and stateChanged() reports it.
// - The daemon going away: clientLost() is emitted, then the client and everything made on it (browsers,
//   resolvers, entry groups) is freed and a new client waits for the daemon to come back. Consumers forget
//   their Avahi objects in clientLost() (freeing them there is fine too) and create them again once
//   isReachable() turns true.
// - Destroying the wrapper frees the client and everything made on it the same way; owners free or forget
//   their objects first.
//
// Thread: the one that creates it; every signal and Avahi callback runs there.

#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <avahi-client/client.h>

#include <memory>

namespace rirudez::qtavahi {

Q_DECLARE_LOGGING_CATEGORY(lcAvahi)

class QtAvahiPoll;

class QtAvahiClient : public QObject {
    Q_OBJECT
public:
    explicit QtAvahiClient(QObject *parent = nullptr);
    ~QtAvahiClient() override;

    // The client, or null when none could be made (no D-Bus system bus). Valid until clientLost().
    AvahiClient *client() const { return m_client; }
    // The client's state; AVAHI_CLIENT_FAILURE while there is no client.
    AvahiClientState state() const { return m_state; }
    // The daemon answers and objects can be made on client(): registering, running or in a host name
    // collision.
    bool isReachable() const;
    // Why the daemon is not reachable, for messages; empty while it is.
    QString problem() const;

Q_SIGNALS:
    // The client's state changed (isReachable() may have changed with it).
    void stateChanged();
    // The daemon went away: the client and every object made on it are freed right after this signal.
    void clientLost();

private:
    static void onState(AvahiClient *client, AvahiClientState state, void *userdata);
    void create();
    void setState(AvahiClientState state);
    void replaceLostClient();
    void warnOnceIfUnreachable();

    std::unique_ptr<QtAvahiPoll> m_poll;
    AvahiClient *m_client = nullptr;
    AvahiClientState m_state = AVAHI_CLIENT_FAILURE;
    int m_error = 0; // avahi error code of the last failure
    bool m_replacing = false;
};

} // namespace rirudez::qtavahi
