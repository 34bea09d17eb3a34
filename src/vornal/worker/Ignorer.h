#pragma once

#include "vornal/decimal/Decimal.h"
#include "vornal/worker/DataLine.h"

#include <optional>

namespace vornal::config {
class Config;
}

namespace vornal::worker {

// Suppresses a value that repeats the previous one, so a balance sending its reading continuously types
// a weight once. A suppressed line keeps its raw text and number but loses its processed value.
//
// The reference is the most recent line that had a value, suppressed or not: a reading drifting in
// steps within the tolerance stays suppressed. Times come from the lines' instants, never from a clock.
class Ignorer {
public:
    // `timeLimitMs`: 0 for no limit. `difference`: 0 compares the texts exactly; otherwise the largest
    // difference of two numbers that still counts as a repeat.
    Ignorer(qint32 timeLimitMs, decimal::Decimal difference)
        : timeLimit_(timeLimitMs), difference_(std::move(difference)) {}

    // From the settings' texts: an empty or non-integer time limit is 0, an empty or non-numeric
    // difference is 0, and a text instrument always compares exactly.
    static Ignorer fromSettings(const QString& ignoreTimeLimit, const QString& ignoreDifference,
                                bool textInstrument);
    // From the settings record: its time limit and difference, and the selected preset's type.
    static Ignorer fromConfig(const config::Config& config);

    // Empties the processed value of `line` when it repeats the reference; lines without a value are
    // left alone and do not move the reference.
    void process(DataLine& line);

    // The line arrived within the time limit after the reference (inclusive, whole milliseconds).
    bool inTime(const DataLine& line) const;
    // The line's value equals the reference's, exactly or within the difference.
    bool inTolerance(const DataLine& line) const;

    // A processed value as a number (a decimal comma read as a point), or none when it is no number.
    static std::optional<decimal::Decimal> numberOf(const QString& processed);

    const std::optional<DataLine>& lastData() const { return lastData_; }
    qint32 timeLimit() const { return timeLimit_; }
    const decimal::Decimal& difference() const { return difference_; }

private:
    std::optional<DataLine> lastData_;
    qint32 timeLimit_;
    decimal::Decimal difference_;
};

} // namespace vornal::worker
