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

QStringList DialogTexts::requiredKeys() {
    return {QStringLiteral("error"),
            QStringLiteral("error.math.operand"),
            QStringLiteral("error.decimal.places"),
            QStringLiteral("error.edit.numCharacters"),
            QStringLiteral("error.edit.everyXValues"),
            QStringLiteral("error.edit.removeCharacters"),
            QStringLiteral("IgnoreDialog.this.title"),
            QStringLiteral("IgnoreDialog.label2.text"),
            QStringLiteral("IgnoreDialog.ignoreTimeLimitTextField.toolTipText"),
            QStringLiteral("IgnoreDialog.label3.text"),
            QStringLiteral("IgnoreDialog.ignoreDifferenceTextField.toolTipText"),
            QStringLiteral("IgnoreDialog.cancelButton.text"),
            QStringLiteral("ignore.error"),
            QStringLiteral("CustomRegExDialog.this.title"),
            QStringLiteral("CustomRegExDialog.label2.text"),
            QStringLiteral("CustomRegExDialog.label3.text"),
            QStringLiteral("CustomRegExDialog.label4.text"),
            QStringLiteral("CustomRegExDialog.cancelButton.text"),
            QStringLiteral("invalid.expression"),
            QStringLiteral("CustomRegExDialog.test.title"),
            QStringLiteral("CustomRegExDialog.test.invalid"),
            QStringLiteral("CustomRegExDialog.test.noGroup"),
            QStringLiteral("CustomRegExDialog.test.tooComplex"),
            QStringLiteral("CustomRegExDialog.test.noMatch"),
            QStringLiteral("CustomRegExDialog.test.groupNotMatched"),
            QStringLiteral("CustomRegExDialog.test.presetUsed"),
            QStringLiteral("CustomRegExDialog.test.warning"),
            QStringLiteral("CustomRegExDialog.test.samples"),
            QStringLiteral("CustomRegExDialog.test.received"),
            QStringLiteral("CustomRegExDialog.test.noLines"),
            QStringLiteral("minimized.to.system.tray"),
            QStringLiteral("file.already.exists.overwrite"),
            QStringLiteral("overwrite"),
            QStringLiteral("configuration.exported.to.file.n"),
            QStringLiteral("export.successful"),
            QStringLiteral("export.failed"),
            QStringLiteral("settings.file.filter"),
            QStringLiteral("all.files.filter"),
            QStringLiteral("export.settings.dialog.title"),
            QStringLiteral("import.settings.dialog.title"),
            QStringLiteral("AutoPortDialog.this.title"),
            QStringLiteral("AutoPortDialog.cancel"),
            QStringLiteral("AutoPortDialog.close"),
            QStringLiteral("import.failed"),
            QStringLiteral("import.apply.and.exit"),
            QStringLiteral("import.restart.required")};
}

} // namespace vornal
