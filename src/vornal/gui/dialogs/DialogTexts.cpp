#include "DialogTexts.h"

#include "vornal/util/ResourceBundle.h"

namespace vornal {

namespace {
QString& currentBundle() {
    static QString name = QStringLiteral("vornal.Vornal");
    return name;
}
} // namespace

QString DialogTexts::text(const QString& key) {
    return util::ResourceBundle::get(currentBundle()).getString(key);
}

QString DialogTexts::bundleName() {
    return currentBundle();
}

void DialogTexts::setBundleName(const QString& name) {
    currentBundle() = name;
}

} // namespace vornal
