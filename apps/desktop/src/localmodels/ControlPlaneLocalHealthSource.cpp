#include "LocalHealthSource.h"

namespace rirudez {

QCoro::Task<LocalHealthSummary> ControlPlaneLocalHealthSource::fetchSummary(QString baseURL,
                                                                            std::optional<QString> token) {
    // The client is copied: the source may be gone by the time the server answers.
    const LocalHealthClient client = m_client;
    const LocalServerHealth health = co_await client.fetch(std::move(baseURL), std::move(token));
    co_return summary(health);
}

LocalHealthSummary ControlPlaneLocalHealthSource::summary(const LocalServerHealth &health) {
    return LocalHealthSummary::make(health.status, health.service, health.requiresPairing, health.pairingCode,
                                    health.provider, health.providerAuthenticated,
                                    health.providerAccountLabel, health.version, health.capabilities);
}

} // namespace rirudez
