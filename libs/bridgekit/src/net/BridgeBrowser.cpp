#include "BridgeBrowser.h"

#include <QLoggingCategory>

#include <avahi-common/error.h>

#include <algorithm>
#include <atomic>

namespace rirudez {

namespace {
std::atomic<int> liveBrowsers{0};
Q_LOGGING_CATEGORY(lcDiscovery, "rirudez.bridgekit.discovery")
} // namespace

BridgeDiscovery::Browser::Browser(std::function<void(const QList<BrowseResult> &)> onResults,
                                  std::function<void(bool)> onRunning)
    : m_onResults(std::move(onResults)), m_onRunning(std::move(onRunning)) {
    ++liveBrowsers;
    QObject::connect(&m_avahi, &qtavahi::QtAvahiClient::clientLost, &m_avahi, [this] {
        drop(/*free=*/false);
        m_onRunning(false);
    });
    QObject::connect(&m_avahi, &qtavahi::QtAvahiClient::stateChanged, &m_avahi, [this] { follow(); });
    follow();
}

BridgeDiscovery::Browser::~Browser() {
    QObject::disconnect(&m_avahi, nullptr, nullptr, nullptr);
    drop(/*free=*/true);
    --liveBrowsers;
}

int detail::liveBridgeBrowsers() {
    return liveBrowsers.load();
}

// Browses while the daemon is reachable.
void BridgeDiscovery::Browser::follow() {
    if (m_browser || !m_avahi.isReachable())
        return;
    const QByteArray type = serviceType.toUtf8();
    m_browser =
        avahi_service_browser_new(m_avahi.client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.constData(),
                                  nullptr, AvahiLookupFlags(0), &Browser::onBrowse, this);
    if (!m_browser) {
        qCWarning(lcDiscovery).noquote()
            << "cannot browse for bridges:" << avahi_strerror(avahi_client_errno(m_avahi.client()));
        return;
    }
    m_failed = false;
    m_onRunning(true);
}

void BridgeDiscovery::Browser::onBrowse(AvahiServiceBrowser *, AvahiIfIndex interface, AvahiProtocol protocol,
                                        AvahiBrowserEvent event, const char *name, const char *type,
                                        const char *domain, AvahiLookupResultFlags, void *userdata) {
    auto *self = static_cast<Browser *>(userdata);
    switch (event) {
    case AVAHI_BROWSER_NEW:
    case AVAHI_BROWSER_REMOVE: {
        const ServiceEndpoint endpoint{QString::fromUtf8(name), QString::fromUtf8(type),
                                       QString::fromUtf8(domain), int(interface), int(protocol)};
        if (event == AVAHI_BROWSER_NEW)
            self->add(endpoint);
        else
            self->remove(endpoint);
        break;
    }
    case AVAHI_BROWSER_ALL_FOR_NOW:
        self->report();
        break;
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    case AVAHI_BROWSER_FAILURE:
        qCWarning(lcDiscovery).noquote()
            << "browsing for bridges failed:" << avahi_strerror(avahi_client_errno(self->m_avahi.client()));
        self->setFailed(true);
        break;
    }
}

void BridgeDiscovery::Browser::add(const ServiceEndpoint &endpoint) {
    auto entry = std::make_unique<Entry>();
    entry->owner = this;
    entry->endpoint = endpoint;
    const QByteArray name = endpoint.name.toUtf8();
    const QByteArray type = endpoint.type.toUtf8();
    const QByteArray domain = endpoint.domain.toUtf8();
    entry->txtLookup = avahi_service_resolver_new(m_avahi.client(), AvahiIfIndex(endpoint.interfaceIndex),
                                                  AvahiProtocol(endpoint.protocol), name.constData(),
                                                  type.constData(), domain.constData(), AVAHI_PROTO_UNSPEC,
                                                  AVAHI_LOOKUP_NO_ADDRESS, &Browser::onTxt, entry.get());
    if (!entry->txtLookup)
        entry->answered = true; // listed without a fingerprint
    m_entries.push_back(std::move(entry));
    if (m_entries.back()->answered)
        report();
}

void BridgeDiscovery::Browser::remove(const ServiceEndpoint &endpoint) {
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const auto &entry) { return entry->endpoint == endpoint; });
    if (it == m_entries.end())
        return;
    if ((*it)->txtLookup)
        avahi_service_resolver_free((*it)->txtLookup);
    const bool wasListed = (*it)->answered;
    m_entries.erase(it);
    if (wasListed)
        report();
}

void BridgeDiscovery::Browser::onTxt(AvahiServiceResolver *, AvahiIfIndex, AvahiProtocol,
                                     AvahiResolverEvent event, const char *, const char *, const char *,
                                     const char *, const AvahiAddress *, uint16_t, AvahiStringList *txt,
                                     AvahiLookupResultFlags, void *userdata) {
    auto *entry = static_cast<Entry *>(userdata);
    if (event == AVAHI_RESOLVER_FOUND) {
        QList<QByteArray> items;
        for (AvahiStringList *item = txt; item; item = avahi_string_list_get_next(item))
            items.append(QByteArray(reinterpret_cast<const char *>(avahi_string_list_get_text(item)),
                                    qsizetype(avahi_string_list_get_size(item))));
        entry->txtRecord = std::move(items);
    } else {
        entry->txtRecord.reset();
    }
    // The lookup stays open and reports again if the record changes.
    entry->answered = true;
    entry->owner->report();
}

void BridgeDiscovery::Browser::report() {
    QList<BrowseResult> results;
    for (const auto &entry : m_entries)
        if (entry->answered)
            results.append(BrowseResult{entry->endpoint, entry->txtRecord});
    m_onResults(results);
}

void BridgeDiscovery::Browser::setFailed(bool failed) {
    m_failed = failed;
    m_onRunning(!failed);
}

void BridgeDiscovery::Browser::drop(bool free) {
    for (auto &entry : m_entries)
        if (free && entry->txtLookup)
            avahi_service_resolver_free(entry->txtLookup);
    m_entries.clear();
    if (free && m_browser)
        avahi_service_browser_free(m_browser);
    m_browser = nullptr;
}

} // namespace rirudez
