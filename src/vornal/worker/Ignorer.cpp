#include "vornal/worker/Ignorer.h"

namespace vornal::worker {

namespace {

std::optional<Decimal> numberOf(const QString& processed) {
    QString text = processed;
    text.replace(u',', u'.');
    return Decimal::parse(text);
}

} // namespace

Ignorer Ignorer::fromSettings(const QString& ignoreTimeLimit, const QString& ignoreDifference,
                              bool textInstrument) {
    bool ok = false;
    qint32 timeLimit = ignoreTimeLimit.toInt(&ok, 10);
    if (!ok)
        timeLimit = 0;
    Decimal difference;
    if (!textInstrument) {
        if (std::optional<Decimal> d = Decimal::parse(ignoreDifference))
            difference = *std::move(d);
    }
    return Ignorer(timeLimit, difference);
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
    const std::optional<Decimal> a = numberOf(now);
    const std::optional<Decimal> b = numberOf(last);
    // Both are formatted numbers; should either not be one, only an identical text is a repeat.
    if (!a || !b)
        return now == last;
    return a->subtract(*b).abs().compare(difference_) <= 0;
}

} // namespace vornal::worker
