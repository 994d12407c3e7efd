#include "ServiceResolution.h"

#include <avahi-client/client.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>

namespace rirudez::detail {

ServiceResolution::ServiceResolution() : m_waiter(Waiter<HostPortEndpoint>::make()) {}

void ServiceResolution::onResolverEvent(AvahiResolverEvent event, const AvahiAddress *address, uint16_t port,
                                        int avahiError) {
    if (isSettled())
        return;
    if (event != AVAHI_RESOLVER_FOUND) {
        m_waiter->fail(DnsServiceError(DnsServiceError::Kind::lookupFailed,
                                       QString::fromUtf8(avahi_strerror(avahiError))));
        return;
    }
    char text[AVAHI_ADDRESS_STR_MAX] = {};
    if (!address || port == 0 || !avahi_address_snprint(text, sizeof text, address) || text[0] == '\0') {
        m_waiter->fail(BridgeDiscoveryError::unresolvable());
        return;
    }
    m_waiter->resume(HostPortEndpoint{BridgeDiscovery::hostText(QString::fromLatin1(text)), int(port)});
}

void ServiceResolution::timedOut() {
    m_waiter->fail(BridgeDiscoveryError::timeout());
}

void ServiceResolution::cancelled() {
    m_waiter->fail(BridgeDiscoveryError::cancelled());
}

void ServiceResolution::callback(AvahiServiceResolver *resolver, AvahiIfIndex, AvahiProtocol,
                                 AvahiResolverEvent event, const char *, const char *, const char *,
                                 const char *, const AvahiAddress *address, uint16_t port, AvahiStringList *,
                                 AvahiLookupResultFlags, void *userdata) {
    const int error = event == AVAHI_RESOLVER_FOUND
                          ? AVAHI_OK
                          : avahi_client_errno(avahi_service_resolver_get_client(resolver));
    static_cast<ServiceResolution *>(userdata)->onResolverEvent(event, address, port, error);
}

} // namespace rirudez::detail
