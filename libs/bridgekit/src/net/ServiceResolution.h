#pragma once

// One resolution of a DNS-SD service to a host and port: an Avahi service resolver raced against a
// deadline. Whatever comes first settles it (the resolver's answer or failure, the deadline, the daemon
// going away); everything after that is ignored, so the waiting coroutine resumes exactly once even when
// the resolver calls back several times. All of it runs on the owner's thread (Avahi calls back from the
// Qt event loop), so the one-shot guard needs no lock.

#include "rirudez/bridgekit/BridgeDiscovery.h"

#include "Waiter.h"

#include <avahi-client/lookup.h>

#include <memory>

namespace rirudez::detail {

class ServiceResolution {
public:
    ServiceResolution();

    // What the resolver reported. FOUND with an address and a port settles with them; FOUND without a
    // usable address gives unresolvable; FAILURE gives DnsServiceError(lookupFailed) with Avahi's reason.
    void onResolverEvent(AvahiResolverEvent event, const AvahiAddress *address, uint16_t port,
                         int avahiError);
    void timedOut();
    void cancelled();

    bool isSettled() const { return m_waiter->isSettled(); }
    std::shared_ptr<Waiter<HostPortEndpoint>> waiter() const { return m_waiter; }

    // The C callback for avahi_service_resolver_new; userdata is the ServiceResolution.
    static void callback(AvahiServiceResolver *resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                         AvahiResolverEvent event, const char *name, const char *type, const char *domain,
                         const char *host, const AvahiAddress *address, uint16_t port, AvahiStringList *txt,
                         AvahiLookupResultFlags flags, void *userdata);

private:
    std::shared_ptr<Waiter<HostPortEndpoint>> m_waiter;
};

} // namespace rirudez::detail
