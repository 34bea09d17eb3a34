#include "FriendlyPortUtil.h"

#include <Direduva/SerialPortLocal.h>

#include <mutex>
#include <optional>

namespace vornal::util {

namespace {
// A std::mutex rather than QMutex: the thread checker sees every hand-over.
std::mutex& infoMutex() {
    static std::mutex m;
    return m;
}
// Absent until the first update.
std::optional<std::vector<Direduva::PortDriverInfo>>& infoList() {
    static std::optional<std::vector<Direduva::PortDriverInfo>> list;
    return list;
}

QString friendly(const Direduva::PortDriverInfo& i) {
    return QStringLiteral("%1: %2 - %3")
        .arg(QString::fromStdString(i.getPortName()), QString::fromStdString(i.getDriverDesc()),
             QString::fromStdString(i.getDriverMfgr()));
}
} // namespace

void FriendlyPortUtil::update() {
    setPortInfo(Direduva::SerialPortLocal::getDriverInfoList());
}

void FriendlyPortUtil::setPortInfo(const std::vector<Direduva::PortDriverInfo>& info) {
    std::lock_guard lock(infoMutex());
    infoList() = info;
}

bool FriendlyPortUtil::portInfoListIsPopulated() {
    std::lock_guard lock(infoMutex());
    return infoList() && !infoList()->empty();
}

QStringList FriendlyPortUtil::getFriendlyPortList() {
    std::lock_guard lock(infoMutex());
    QStringList out;
    if (infoList())
        for (const auto& i : *infoList())
            out += friendly(i);
    return out;
}

QString FriendlyPortUtil::getFriendlyPortName(const QString& port) {
    std::lock_guard lock(infoMutex());
    if (infoList()) {
        const std::string name = port.toStdString();
        for (const auto& i : *infoList())
            if (i.getPortName() == name)
                return friendly(i);
    }
    return port;
}

QString FriendlyPortUtil::getUnfriendlyPortName(const QString& text) {
    std::lock_guard lock(infoMutex());
    if (infoList())
        for (const auto& i : *infoList())
            if (friendly(i) == text)
                return QString::fromStdString(i.getPortName());
    return text;
}

} // namespace vornal::util
