#pragma once
// What a service that runs in the foreground until interrupted needs around its server.

#include <QHostAddress>
#include <QString>

class QCoreApplication;

namespace rirudez::serviceprocess {

// Quits the application's event loop on SIGINT and SIGTERM (through a socket pair, so nothing but a write
// runs in the signal handler); whatever runs after exec() returns, such as recording running turns as
// cancelled, still happens. Call it once, after the application object exists.
void quitOnSignals(QCoreApplication &app);

// The address another device can use: the listening address itself, or, when listening on every
// interface, the first non-loopback IPv4 address (127.0.0.1 when there is none).
QString reachableHost(const QHostAddress &listening);

} // namespace rirudez::serviceprocess
