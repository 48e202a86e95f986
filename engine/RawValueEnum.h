#pragma once

// One idiom shared by every settings enumeration: a table of (case, raw value) pairs in
// declaration order, from which rawValue, construction from a raw value (exact match only),
// allCases and hashing all follow.

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

namespace fennick {

// Specialise for each enumeration with `using Raw = …;` and
// `static constexpr std::array<std::pair<E, Raw>, N> table{…};` in declaration order.
template <typename E>
struct RawValueTable;

template <typename E>
using RawValueOf = typename RawValueTable<E>::Raw;

template <typename E>
constexpr RawValueOf<E> rawValue(E value)
{
    for (const auto& [each, raw] : RawValueTable<E>::table) {
        if (each == value) return raw;
    }
    return RawValueTable<E>::table.front().second; // unreachable for a valid case
}

// The identity of a case is its raw value.
template <typename E>
constexpr RawValueOf<E> id(E value)
{
    return rawValue(value);
}

// Exact comparison: no tolerance, trimming or case folding.
template <typename E>
constexpr std::optional<E> fromRawValue(const RawValueOf<E>& raw)
{
    for (const auto& [each, candidate] : RawValueTable<E>::table) {
        if (candidate == raw) return each;
    }
    return std::nullopt;
}

template <typename E>
constexpr auto allCases()
{
    std::array<E, RawValueTable<E>::table.size()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i) cases[i] = RawValueTable<E>::table[i].first;
    return cases;
}

// Position of a case in declaration order.
template <typename E>
constexpr std::size_t ordinal(E value)
{
    const auto& table = RawValueTable<E>::table;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].first == value) return i;
    }
    return 0;
}

// Equal values hash equally because a case hashes as its raw value.
template <typename E>
struct RawValueHash {
    std::size_t operator()(E value) const noexcept { return std::hash<RawValueOf<E>>{}(rawValue(value)); }
};

} // namespace fennick
