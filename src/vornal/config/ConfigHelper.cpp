#include "vornal/config/ConfigHelper.h"

#include "vornal/config/OptionTexts.h"

namespace vornal::config {

int ConfigHelper::getKeyEvent(const QString& constantName) {
    return options::getKeyEvent(constantName);
}

QStringList ConfigHelper::bundleKeys() {
    QStringList keys = options::bundleKeys();
    for (const QString& k : presets::bundleKeys())
        if (!keys.contains(k))
            keys << k;
    return keys;
}

void ConfigHelper::reloadTexts() {
    texts::reload();
}

} // namespace vornal::config
