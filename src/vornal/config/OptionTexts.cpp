#include "vornal/config/OptionTexts.h"

#include <atomic>

namespace vornal::config::texts {

namespace {
const QString kBundleName = QStringLiteral("vornal.config.ConfigBundle");
std::atomic<const util::ResourceBundle*> gBundle{nullptr};
} // namespace

const util::ResourceBundle& bundle() {
    const util::ResourceBundle* b = gBundle.load(std::memory_order_acquire);
    if (!b) {
        b = &util::ResourceBundle::get(kBundleName);
        gBundle.store(b, std::memory_order_release);
    }
    return *b;
}

void reload() {
    gBundle.store(nullptr, std::memory_order_release);
}

QString displayText(const Entry& e) {
    return e.isKey ? bundle().getString(QLatin1String(e.display)) : QString::fromUtf8(e.display);
}

void addBundleKey(QStringList& keys, const Entry& e) {
    if (e.isKey && !keys.contains(QLatin1String(e.display)))
        keys << QString::fromLatin1(e.display);
}

} // namespace vornal::config::texts
