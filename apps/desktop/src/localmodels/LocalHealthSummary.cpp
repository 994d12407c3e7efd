#include "LocalHealthSummary.h"

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

std::optional<QString> nonBlank(const std::optional<QString> &text) {
    if (!text)
        return std::nullopt;
    const QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

} // namespace

LocalHealthSummary
LocalHealthSummary::make(const std::optional<QString> &statusString, const std::optional<QString> &service,
                         std::optional<bool> requiresPairing, const std::optional<QString> &pairingCode,
                         const std::optional<QString> &provider, std::optional<bool> providerAuthenticated,
                         const std::optional<QString> &providerAccountLabel,
                         const std::optional<QString> &version,
                         const std::optional<QStringList> &capabilities) {
    LocalHealthSummary summary;
    const bool ok = statusString && statusString->trimmed().compare(u"ok"_s, Qt::CaseInsensitive) == 0;
    if (ok)
        summary.status = requiresPairing.value_or(false) ? Status::pairingRequired : Status::reachable;
    summary.service = nonBlank(service);
    summary.providerIdentifier = nonBlank(provider);
    summary.providerAuthenticated = providerAuthenticated.value_or(false);
    summary.providerAccountLabel = nonBlank(providerAccountLabel);
    summary.pairingCode = nonBlank(pairingCode);
    summary.version = nonBlank(version);
    summary.capabilities = capabilities.value_or(QStringList());
    return summary;
}

} // namespace rirudez
