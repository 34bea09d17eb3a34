#include "vornal/worker/StabilityFilter.h"

#include "vornal/config/Config.h"
#include "vornal/worker/Ignorer.h"

namespace vornal::worker {

using decimal::Decimal;

StabilityFilter::StabilityFilter(QRegularExpression stableRule, bool onlyStable, bool oncePerPlacement,
                                 std::optional<Decimal> difference)
    : stableRule_(std::move(stableRule)), onlyStable_(onlyStable), oncePerPlacement_(oncePerPlacement) {
    if (difference && difference->signum() != 0)
        difference_ = difference->abs();
}

std::optional<StabilityFilter> StabilityFilter::fromSettings(const QString& instrument, bool onlyStable,
                                                             bool oncePerPlacement,
                                                             const QString& ignoreDifference) {
    if (!onlyStable && !oncePerPlacement)
        return std::nullopt;
    const auto preset = config::ConfigHelper::Instrument::valueOf(instrument);
    if (!preset || !preset->hasStabilityRule())
        return std::nullopt;
    return StabilityFilter(preset->getStabilityExpression(), onlyStable, oncePerPlacement,
                           Decimal::parse(ignoreDifference));
}

std::optional<StabilityFilter> StabilityFilter::fromConfig(const config::Config& config) {
    const auto instrument = config.getInstrument();
    if (!instrument)
        return std::nullopt;
    return fromSettings(instrument->name(), config.getTypeOnlyStable(), config.getOncePerPlacement(),
                        config.getIgnoreDifference());
}

bool StabilityFilter::isZero(const Decimal& value) const {
    const Decimal band = difference_ ? *difference_ : Decimal(mpz_class(1), value.scale());
    return value.abs().compare(band) <= 0;
}

bool StabilityFilter::placementEnded(const QString& value, bool stable) const {
    const std::optional<Decimal> now = Ignorer::numberOf(value);
    if (now && isZero(*now))
        return true; // back to zero: the load was taken off
    // A change counts once the reading is stable again, so settling after a touch is no new placement.
    if (!stable)
        return false;
    if (!now)
        return !typed_ || value != *typed_;
    // Without a difference a change of the load is no new placement: the jitter of the last digit
    // would be typed as one.
    if (!difference_)
        return false;
    const std::optional<Decimal> last = typed_ ? Ignorer::numberOf(*typed_) : std::nullopt;
    return !last || now->subtract(*last).abs().compare(*difference_) > 0;
}

StabilityFilter::Verdict StabilityFilter::process(DataLine& line) {
    if (!line.hasValue())
        return Verdict::NoValue;
    const bool stable = isStable(line.rawData());
    if (oncePerPlacement_ && !armed_ && placementEnded(line.getProcessedData(), stable))
        armed_ = true;
    if (!stable) {
        line.deleteProcessedData();
        return Verdict::Unstable;
    }
    if (!oncePerPlacement_)
        return Verdict::Pass;
    // A stable zero is the empty platform: nothing to type, and the next load is a new placement.
    const std::optional<Decimal> number = Ignorer::numberOf(line.getProcessedData());
    if (number && isZero(*number)) {
        line.deleteProcessedData();
        return Verdict::Zero;
    }
    if (!armed_) {
        line.deleteProcessedData();
        return Verdict::SamePlacement;
    }
    armed_ = false;
    typed_ = line.getProcessedData();
    return Verdict::Pass;
}

} // namespace vornal::worker
