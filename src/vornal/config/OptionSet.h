#pragma once

// The building blocks of the option sets: a closed set of constants, each with a stored name and a
// display text, stored either by index or by name.

#include <QString>

#include <compare>
#include <optional>
#include <vector>

namespace vornal::config {

namespace detail {

// One constant of a closed option set, in the manner of an enumeration that carries its own texts.
// A constant is a small value: its ordinal (position in the set, from 0). Constants of the same set compare
// by ordinal; constants of different sets do not compare at all. The set class `E` supplies
// `kCount`, `nameOf(int)` (the stored constant name) and `displayOf(int)` (the text shown to the user).
template <class E> class OptionConstant {
public:
    constexpr int ordinal() const { return ordinal_; }
    // The stable upper-case constant name, e.g. "BR_9600"; this is what the settings store holds.
    QString name() const { return E::nameOf(ordinal_); }
    // The display text (fixed, or looked up in the bundle "vornal.config.ConfigBundle").
    QString toString() const { return E::displayOf(ordinal_); }

    // Every constant, in the order the selection lists show them.
    static const std::vector<E>& values() {
        static const std::vector<E> all = [] {
            std::vector<E> v;
            for (int i = 0; i < E::kCount; ++i)
                v.push_back(E(i));
            return v;
        }();
        return all;
    }
    // The constant with exactly this constant name (case-sensitive), or none.
    static std::optional<E> valueOf(const QString& constantName) {
        for (int i = 0; i < E::kCount; ++i)
            if (E::nameOf(i) == constantName)
                return E(i);
        return std::nullopt;
    }
    // The constant at this ordinal, or none when the ordinal is outside the set.
    static std::optional<E> fromOrdinal(int ordinal) {
        if (ordinal < 0 || ordinal >= E::kCount)
            return std::nullopt;
        return E(ordinal);
    }

    friend constexpr bool operator==(const E& a, const E& b) { return a.ordinal_ == b.ordinal_; }
    friend constexpr std::strong_ordering operator<=>(const E& a, const E& b) {
        return a.ordinal_ <=> b.ordinal_;
    }

protected:
    constexpr explicit OptionConstant(int ordinal) : ordinal_(ordinal) {}

private:
    int ordinal_;
};

// Sets stored by ordinal (index): the index is also the serial library's setting code.
template <class E> class IndexStyle : public OptionConstant<E> {
public:
    // The default constant's index.
    static int getDefault() { return E::kDefaultOrdinal; }
    // True for 0 <= index < number of constants.
    static bool valid(int index) { return index >= 0 && index < E::kCount; }
    // The display text of the constant at `index`, or "" for an index outside the set. Never fails.
    static QString getReadable(int index) { return valid(index) ? E::displayOf(index) : QString(""); }

protected:
    using OptionConstant<E>::OptionConstant;
};

// Sets stored by constant name.
template <class E> class NameStyle : public OptionConstant<E> {
public:
    static E getDefault() { return E(E::kDefaultOrdinal); }
    // True when the text equals a constant name exactly (case-sensitive): "ENTER" yes, "enter" no.
    static bool valid(const QString& constantName) {
        return OptionConstant<E>::valueOf(constantName).has_value();
    }

protected:
    using OptionConstant<E>::OptionConstant;
};

} // namespace detail

// Shared boilerplate of every option set class: the constructor and the two text tables.
#define VORNAL_OPTION_SET(E, BASE, COUNT, DEFAULT_ORDINAL)                                                   \
public:                                                                                                      \
    static constexpr int kCount = COUNT;                                                                     \
    static constexpr int kDefaultOrdinal = DEFAULT_ORDINAL;                                                  \
                                                                                                             \
private:                                                                                                     \
    friend class detail::OptionConstant<E>;                                                                  \
    friend class detail::BASE<E>;                                                                            \
    constexpr explicit E(int ordinal) : detail::BASE<E>(ordinal) {}                                          \
    static QString nameOf(int ordinal);                                                                      \
    static QString displayOf(int ordinal);                                                                   \
                                                                                                             \
public:

} // namespace vornal::config
