#pragma once

// The Avahi side of BridgeDiscovery: one service browser for "_doduzadod._tcp" in the default domains, and
// for every service it reports a TXT lookup (a service resolver that skips addresses). A result joins the
// set once its TXT lookup answered (a failed lookup counts as "no TXT record"); the complete current set
// goes to `onResults` on every change and when the daemon has said all it knows for now.
//
// The daemon missing: no browser, isRunning() false. The daemon going away: everything is dropped, the
// set is left as it was, and a new browser starts when it comes back.

#include "rirudez/bridgekit/BridgeDiscovery.h"

#include "rirudez/qtavahi/QtAvahiClient.h"

#include <avahi-client/lookup.h>

#include <functional>
#include <memory>
#include <vector>

namespace rirudez {

namespace detail {
// Live bridge browsers in this process (each holds one Avahi service browser while running).
int liveBridgeBrowsers();
} // namespace detail

class BridgeDiscovery::Browser {
public:
    Browser(std::function<void(const QList<BrowseResult> &)> onResults, std::function<void(bool)> onRunning);
    ~Browser();
    Browser(const Browser &) = delete;
    Browser &operator=(const Browser &) = delete;

    bool isRunning() const { return m_browser != nullptr && !m_failed; }

private:
    struct Entry {
        Browser *owner = nullptr;
        ServiceEndpoint endpoint;
        AvahiServiceResolver *txtLookup = nullptr;
        bool answered = false;
        std::optional<QList<QByteArray>> txtRecord;
    };

    static void onBrowse(AvahiServiceBrowser *browser, AvahiIfIndex interface, AvahiProtocol protocol,
                         AvahiBrowserEvent event, const char *name, const char *type, const char *domain,
                         AvahiLookupResultFlags flags, void *userdata);
    static void onTxt(AvahiServiceResolver *resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                      AvahiResolverEvent event, const char *name, const char *type, const char *domain,
                      const char *host, const AvahiAddress *address, uint16_t port, AvahiStringList *txt,
                      AvahiLookupResultFlags flags, void *userdata);

    void follow();
    void add(const ServiceEndpoint &endpoint);
    void remove(const ServiceEndpoint &endpoint);
    // Frees (or, when the client already freed them, forgets) the browser and every lookup.
    void drop(bool free);
    void report();
    void setFailed(bool failed);

    std::function<void(const QList<BrowseResult> &)> m_onResults;
    std::function<void(bool)> m_onRunning;
    qtavahi::QtAvahiClient m_avahi;
    AvahiServiceBrowser *m_browser = nullptr;
    bool m_failed = false;
    std::vector<std::unique_ptr<Entry>> m_entries; // in the order the browser reported them
};

} // namespace rirudez
