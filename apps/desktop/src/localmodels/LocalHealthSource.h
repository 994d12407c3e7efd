#pragma once

// Where the local models screen gets its summary of a local control plane server.

#include "LocalHealthSummary.h"

#include "rirudez/localcontrolplane/LocalHealthClient.h"

#include <QCoroTask>
#include <QString>

#include <optional>

namespace rirudez {

class LocalHealthSource {
public:
    virtual ~LocalHealthSource() = default;
    // Throws what the underlying client throws.
    virtual QCoro::Task<LocalHealthSummary> fetchSummary(QString baseURL, std::optional<QString> token) = 0;
};

// The summary from the server's health document, through the local health client.
class ControlPlaneLocalHealthSource : public LocalHealthSource {
public:
    explicit ControlPlaneLocalHealthSource(LocalHealthClient client) : m_client(std::move(client)) {}

    QCoro::Task<LocalHealthSummary> fetchSummary(QString baseURL, std::optional<QString> token) override;

    // The document's status, service, pairing, provider, version and capabilities; the tablet fields and
    // counters are not carried over.
    static LocalHealthSummary summary(const LocalServerHealth &health);

private:
    LocalHealthClient m_client;
};

} // namespace rirudez
