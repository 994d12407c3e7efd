#pragma once

// The state of the screen's helper button: install the local server helper, open it, or nothing to do
// because it runs.

#include <QString>
#include <QUrl>

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace rirudez {

class HelperAffordance {
public:
    struct InstallHelper {
        std::optional<QUrl> downloadURL;
        bool operator==(const InstallHelper &) const = default;
    };
    struct OpenHelper {
        std::optional<QUrl> launchURL;
        bool operator==(const OpenHelper &) const = default;
    };
    struct HelperRunning {
        bool operator==(const HelperRunning &) const = default;
    };
    using Value = std::variant<InstallHelper, OpenHelper, HelperRunning>;

    HelperAffordance(Value value = InstallHelper{}) : m_value(std::move(value)) {}
    // One case converts to the whole, so tables and returns can name the case alone.
    template <typename Case>
    requires(!std::is_same_v<std::decay_t<Case>, Value> && std::is_constructible_v<Value, Case>)
        HelperAffordance(Case value)
        : m_value(std::move(value)) {}
    const Value &value() const { return m_value; }
    template <typename Case>
    bool is() const {
        return std::holds_alternative<Case>(m_value);
    }

    QString buttonTitle() const;
    // A symbol name of the desktop's icon set.
    QString systemImage() const;
    // The URL the button opens: the download page or the helper's launch URL.
    std::optional<QUrl> url() const;
    // Whether the button does something: installing or opening with a URL to go to.
    bool isActionable() const;

    // Rules: a running helper needs nothing (whether or not it counts as installed: it may run from
    // elsewhere); an installed one can be opened; otherwise it can be installed.
    static HelperAffordance derive(bool isHelperInstalled, bool isHelperRunning,
                                   const std::optional<QUrl> &downloadURL,
                                   const std::optional<QUrl> &launchURL);

    bool operator==(const HelperAffordance &) const = default;

private:
    Value m_value;
};

} // namespace rirudez
