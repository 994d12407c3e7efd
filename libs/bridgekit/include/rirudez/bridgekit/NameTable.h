#pragma once

// A fixed table between the cases of an enumeration and their names (wire strings or display names), looked
// up both ways. Tables are small, so a linear scan is as fast as anything else and keeps them constexpr.

#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

namespace rirudez {

template <typename Enum, std::size_t N>
struct NameTable {
    std::array<std::pair<Enum, QStringView>, N> entries;

    // The name of a case (empty for a case the table does not list).
    QString name(Enum value) const {
        for (const auto &[e, s] : entries)
            if (e == value)
                return s.toString();
        return {};
    }
    // The case with that exact name, if any.
    std::optional<Enum> parse(QStringView raw) const {
        for (const auto &[e, s] : entries)
            if (s == raw)
                return e;
        return std::nullopt;
    }
};

} // namespace rirudez
