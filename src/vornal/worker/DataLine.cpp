#include "vornal/worker/DataLine.h"

#include "vornal/util/ControlChars.h"

namespace vornal::worker {

QDateTime DataLine::getDateTime() const {
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(instant_).time_since_epoch().count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
}

QString DataLine::transformControlChars(QStringView text) {
    return util::showControlChars(text);
}

} // namespace vornal::worker
