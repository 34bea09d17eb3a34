#pragma once

#include "vornal/decimal/Decimal.h"
#include "vornal/worker/DataLine.h"

#include <QRegularExpression>
#include <QString>

#include <optional>

namespace vornal::config {
class Config;
}

namespace vornal::worker {

using decimal::Decimal;

// Keeps the values of readings the instrument did not mark as stable from being typed, and optionally
// types one value per placement: the first stable reading, then nothing until the reading has returned to
// zero or, when a difference is set, changed by more than the difference from the value typed. Zero is
// at most the difference away from it, or without a difference at most one unit of the reading's last
// digit (a 1 mg jitter of a loaded balance is the same placement, a 0.001 after unloading is zero).
// A held-back line keeps its raw text and number but loses its processed value, as with the duplicate
// filter. Works on the lines in the order they arrive; no clock is involved.
class StabilityFilter {
public:
    enum class Verdict {
        NoValue,       // the line had no value: left alone
        Pass,          // the value is to be typed
        Unstable,      // held back: the instrument did not mark the reading as stable
        SamePlacement, // held back: a value was typed for this placement already
        Zero,          // held back: the empty platform (a stable zero); the next load is a new placement
    };

    // `stableRule`: finds a match in every line marked as stable. `difference`: zero band and the
    // change that counts as a new placement; without one only a return to zero (within the reading's
    // last digit) starts a new placement.
    StabilityFilter(QRegularExpression stableRule, bool onlyStable, bool oncePerPlacement,
                    std::optional<Decimal> difference);

    // The filter the settings ask for: none when both options are off, or the selected instrument marks
    // no stability (the options are then disabled). The difference is the duplicate filter's.
    static std::optional<StabilityFilter> fromConfig(const config::Config& config);
    // The same from the parts of the settings: the instrument's constant name, the two options and the
    // ignore-difference text (empty or not a number: none).
    static std::optional<StabilityFilter> fromSettings(const QString& instrument, bool onlyStable,
                                                       bool oncePerPlacement,
                                                       const QString& ignoreDifference);

    // Decides on `line` and empties its processed value when it is held back.
    Verdict process(DataLine& line);

    bool isStable(const QString& rawLine) const { return stableRule_.match(rawLine).hasMatch(); }
    bool onlyStable() const { return onlyStable_; }
    bool oncePerPlacement() const { return oncePerPlacement_; }

private:
    // True when the placement of the value typed last has ended with this reading: it is back at zero,
    // or stable and more than the difference away from the value typed.
    bool placementEnded(const QString& value, bool stable) const;
    // The reading is the empty platform: within the difference of zero, or without one within one unit
    // of its own last digit.
    bool isZero(const Decimal& value) const;

    QRegularExpression stableRule_;
    bool onlyStable_;
    bool oncePerPlacement_;
    std::optional<Decimal> difference_;
    bool armed_ = true;
    std::optional<QString> typed_; // the value typed for the current placement
};

} // namespace vornal::worker
