#pragma once

// Advice about the base URL the user entered for the local control plane server: is it this computer, a
// machine on the local network, somewhere else, or nothing yet.

#include <QString>

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace rirudez {

class ConnectionGuidance {
public:
    struct SameMachineLoopback {
        QString host;
        int port = 0;
        bool operator==(const SameMachineLoopback &) const = default;
    };
    struct LanAdvertised {
        QString host;
        int port = 0;
        bool operator==(const LanAdvertised &) const = default;
    };
    struct CustomEndpoint {
        QString host;
        int port = 0;
        bool operator==(const CustomEndpoint &) const = default;
    };
    struct NotConfigured {
        bool operator==(const NotConfigured &) const = default;
    };
    using Value = std::variant<SameMachineLoopback, LanAdvertised, CustomEndpoint, NotConfigured>;

    // The port rirudez-local-server listens on unless told otherwise; the screen suggests it.
    static constexpr int defaultServerPort = 8765;

    ConnectionGuidance(Value value = NotConfigured{}) : m_value(std::move(value)) {}
    // One case converts to the whole, so tables and returns can name the case alone.
    template <typename Case>
    requires(!std::is_same_v<std::decay_t<Case>, Value> && std::is_constructible_v<Value, Case>)
        ConnectionGuidance(Case value)
        : m_value(std::move(value)) {}
    const Value &value() const { return m_value; }
    template <typename Case>
    bool is() const {
        return std::holds_alternative<Case>(m_value);
    }

    QString headlineCopy() const;
    QString detailCopy() const;

    // Rules: nothing, blank or unparsable text is notConfigured. localhost, 127.0.0.0/8 and ::1 are this
    // computer. Private IPv4 ranges (10/8, 172.16/12, 192.168/16), link-local 169.254/16 and names ending in
    // ".local" (multicast DNS) are the local network. Everything else is a custom endpoint.
    static ConnectionGuidance derive(const std::optional<QString> &baseURL);

    // Host and port of a base URL ("http://" is assumed when no scheme is written). Without an explicit port
    // the scheme's own is used (443 for https, 80 otherwise), because that is what a request will use.
    // Nothing when the text has no host.
    static std::optional<std::pair<QString, int>> parseHostAndPort(const QString &baseURL);
    // Whether a dotted-decimal IPv4 address lies in a private or link-local range.
    static bool isLANAddress(const QString &host);

    bool operator==(const ConnectionGuidance &) const = default;

private:
    Value m_value;
};

} // namespace rirudez
