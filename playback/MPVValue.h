#pragma once
// A value of an observed mpv property, as handed to MPVClient's property callback.
// A plain value type: any thread, copies are independent.

#include <QString>
#include <optional>
#include <variant>

namespace rillow {

struct MPVValue {
    enum class Type { double_, flag, string };

    // In this order: a 64-bit float, a flag, a text (absent when mpv gave a null string).
    std::variant<double, bool, std::optional<QString>> value;

    static MPVValue fromDouble(double v) { return MPVValue{v}; }
    static MPVValue fromFlag(bool v) { return MPVValue{v}; }
    static MPVValue fromString(std::optional<QString> v) { return MPVValue{std::move(v)}; }

    Type type() const { return static_cast<Type>(value.index()); }
    // The value when it has that type, else absent (for `string`: absent also for a null text).
    std::optional<double> toDouble() const;
    std::optional<bool> toFlag() const;
    std::optional<QString> toString() const;

    bool operator==(const MPVValue&) const = default;
};

inline std::optional<double> MPVValue::toDouble() const {
    if (const double* v = std::get_if<double>(&value)) return *v;
    return std::nullopt;
}

inline std::optional<bool> MPVValue::toFlag() const {
    if (const bool* v = std::get_if<bool>(&value)) return *v;
    return std::nullopt;
}

inline std::optional<QString> MPVValue::toString() const {
    if (const auto* v = std::get_if<std::optional<QString>>(&value)) return *v;
    return std::nullopt;
}

}  // namespace rillow
