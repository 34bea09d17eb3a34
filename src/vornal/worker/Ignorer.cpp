#include "vornal/worker/Ignorer.h"

#include "vornal/config/Config.h"

#include <limits>

namespace vornal::worker {

namespace {

// A whole number as a whole: optional sign and ASCII digits, no blanks, within 32 bits.
std::optional<qint32> wholeNumber(const QString& text) {
    qsizetype i = (text.startsWith(u'-') || text.startsWith(u'+')) ? 1 : 0;
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64(1) << 31)
            return std::nullopt;
    }
    if (text.startsWith(u'-'))
        value = -value;
    if (value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

} // namespace

std::optional<decimal::Decimal> Ignorer::numberOf(const QString& processed) {
    QString text = processed;
    text.replace(u',', u'.');
    return decimal::Decimal::parse(text);
}

Ignorer Ignorer::fromSettings(const QString& ignoreTimeLimit, const QString& ignoreDifference,
                              bool textInstrument) {
    const qint32 timeLimit = wholeNumber(ignoreTimeLimit).value_or(0);
    decimal::Decimal difference;
    if (!textInstrument) {
        if (std::optional<decimal::Decimal> d = decimal::Decimal::parse(ignoreDifference))
            difference = *std::move(d);
    }
    return Ignorer(timeLimit, difference);
}

Ignorer Ignorer::fromConfig(const config::Config& config) {
    const auto instrument = config.getInstrument();
    const bool text = instrument && instrument->getInstrumentType() == config::Config::InstrumentType::TEXT;
    return fromSettings(config.getIgnoreTimeLimit(), config.getIgnoreDifference(), text);
}

void Ignorer::process(DataLine& line) {
    if (!line.hasValue())
        return;
    DataLine reference = line.copy();
    if (lastData_ && inTime(line) && inTolerance(line))
        line.deleteProcessedData();
    lastData_ = std::move(reference);
}

bool Ignorer::inTime(const DataLine& line) const {
    if (timeLimit_ == 0)
        return true;
    if (!lastData_)
        return false;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(line.getInstant() - lastData_->getInstant());
    return elapsed.count() <= timeLimit_;
}

bool Ignorer::inTolerance(const DataLine& line) const {
    if (!lastData_)
        return false;
    const QString& now = line.getProcessedData();
    const QString& last = lastData_->getProcessedData();
    if (difference_.isZero())
        return now == last;
    const std::optional<decimal::Decimal> a = numberOf(now);
    const std::optional<decimal::Decimal> b = numberOf(last);
    // Both are formatted numbers; should either not be one, only an identical text is a repeat.
    if (!a || !b)
        return now == last;
    return a->subtract(*b).abs().compare(difference_) <= 0;
}

} // namespace vornal::worker
