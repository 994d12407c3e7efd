#pragma once

// What is known about a provider's command-line tool on this machine. It has no JSON form.

#include <QString>

#include <optional>

namespace rirudez {

struct ProviderCLIStatus {
    bool isInstalled = false;            // the tool was found
    bool isAuthenticated = false;        // the tool reports a signed-in account
    std::optional<QString> accountLabel; // label of the signed-in account, for display
    std::optional<QString> detail;       // extra human-readable detail

    // Not installed, not authenticated, no label, no detail.
    static ProviderCLIStatus unknown() { return {}; }

    bool operator==(const ProviderCLIStatus &) const = default;
};

} // namespace rirudez
