#include "ReadingsBox.h"

#include <platform/hotkey/GlobalHotkey.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace vornal {

using config::ConfigHelper;

namespace {
constexpr int kMiB = 1024 * 1024;

QLineEdit* field(QWidget* parent, const char* name, int width) {
    auto* f = new QLineEdit(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setMaximumWidth(width);
    return f;
}
} // namespace

ReadingsBox::ReadingsBox(std::function<QString(const QString&)> text, QWidget* parent)
    : QGroupBox(parent), text_(std::move(text)) {
    const auto t = [this](const char* key) {
        return text_(QStringLiteral("readings.") + QLatin1String(key));
    };
    setTitle(t("title"));
    setObjectName(QStringLiteral("readingsBox"));
    typeOnlyStable_ = new QCheckBox(t("typeOnlyStable"), this);
    typeOnlyStable_->setObjectName(QStringLiteral("typeOnlyStableCheckBox"));
    oncePerPlacement_ = new QCheckBox(t("oncePerPlacement"), this);
    oncePerPlacement_->setObjectName(QStringLiteral("oncePerPlacementCheckBox"));
    oncePerPlacement_->setToolTip(t("oncePerPlacement.toolTip"));
    requestCommand_ = field(this, "requestCommandTextField", 160);
    requestCommand_->setToolTip(t("requestCommand.toolTip"));
    requestHotkey_ = field(this, "requestHotkeyTextField", 160);
    requestHotkey_->setPlaceholderText(QStringLiteral("Ctrl+Alt+R"));
    hotkeyNote_ = new QLabel(this);
    hotkeyNote_->setObjectName(QStringLiteral("requestHotkeyNote"));
    hotkeyNote_->setWordWrap(true);
    requestEvery_ = field(this, "requestEverySecondsTextField", 80);
    dataLogFile_ = field(this, "dataLogFileTextField", 360);
    dataLogFile_->setPlaceholderText(t("dataLogFile.off"));
    browse_ = new QPushButton(t("browse"), this);
    browse_->setObjectName(QStringLiteral("dataLogBrowseButton"));
    dataLogMaxMiB_ = new QSpinBox(this);
    dataLogMaxMiB_->setObjectName(QStringLiteral("dataLogMaxBytesSpinBox"));
    dataLogMaxMiB_->setRange(0, 2047);
    dataLogMaxMiB_->setSuffix(QStringLiteral(" MiB"));
    dataLogMaxMiB_->setSpecialValueText(t("dataLogMaxBytes.none"));
    dataLogKeep_ = new QSpinBox(this);
    dataLogKeep_->setObjectName(QStringLiteral("dataLogKeepSpinBox"));
    dataLogKeep_->setRange(0, 99);

    auto* grid = new QGridLayout(this);
    int r = 0;
    grid->addWidget(typeOnlyStable_, r, 0, 1, 2);
    grid->addWidget(oncePerPlacement_, r++, 2, 1, 2);
    grid->addWidget(new QLabel(t("requestCommand"), this), r, 0);
    grid->addWidget(requestCommand_, r, 1);
    grid->addWidget(new QLabel(t("requestEverySeconds"), this), r, 2);
    grid->addWidget(requestEvery_, r++, 3);
    grid->addWidget(new QLabel(t("requestHotkey"), this), r, 0);
    grid->addWidget(requestHotkey_, r, 1);
    grid->addWidget(hotkeyNote_, r++, 2, 1, 2);
    grid->addWidget(new QLabel(t("dataLogFile"), this), r, 0);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(dataLogFile_, 1);
    fileRow->addWidget(browse_);
    grid->addLayout(fileRow, r++, 1, 1, 3);
    grid->addWidget(new QLabel(t("dataLogMaxBytes"), this), r, 0);
    grid->addWidget(dataLogMaxMiB_, r, 1);
    grid->addWidget(new QLabel(t("dataLogKeep"), this), r, 2);
    grid->addWidget(dataLogKeep_, r++, 3);

    const QString reason = hotkeyUnavailableReason();
    if (!reason.isEmpty()) {
        hotkeyNote_->setText(reason);
        requestHotkey_->setEnabled(false);
    }
    connect(browse_, &QPushButton::clicked, this, [this, t] {
        const QString chosen = QFileDialog::getSaveFileName(
            this, t("dataLogFile.choose"), dataLogFile_->text(), QStringLiteral("CSV (*.csv)"), nullptr,
            QFileDialog::DontConfirmOverwrite);
        if (!chosen.isEmpty())
            dataLogFile_->setText(chosen);
    });
}

QString ReadingsBox::hotkeyUnavailableReason() {
    static const QString reason = [] {
        std::string why;
        const auto backend = platform::createGlobalHotkey(&why);
        return backend ? QString() : QString::fromStdString(why);
    }();
    return reason;
}

void ReadingsBox::fill(const config::Config& c) {
    typeOnlyStable_->setChecked(c.getTypeOnlyStable());
    oncePerPlacement_->setChecked(c.getOncePerPlacement());
    requestCommand_->setText(c.getRequestCommand());
    requestHotkey_->setText(c.getRequestHotkey());
    requestEvery_->setText(c.getRequestEverySeconds());
    dataLogFile_->setText(c.getDataLogFile());
    dataLogMaxMiB_->setValue((c.getDataLogMaxBytes() + kMiB - 1) / kMiB);
    dataLogKeep_->setValue(c.getDataLogKeep());
    if (const auto i = c.getInstrument())
        setInstrument(*i, false);
}

QString ReadingsBox::store(config::Config& c) {
    c.setTypeOnlyStable(typeOnlyStable_->isChecked());
    c.setOncePerPlacement(oncePerPlacement_->isChecked());
    // The box shows whole MiB: a byte count set elsewhere (settings file, command line) is kept
    // unless the user changed the box.
    if (dataLogMaxMiB_->value() != (c.getDataLogMaxBytes() + kMiB - 1) / kMiB)
        c.setDataLogMaxBytes(dataLogMaxMiB_->value() * kMiB);
    c.setDataLogKeep(dataLogKeep_->value());
    QStringList refused;
    const auto take = [&](QLineEdit* f, const char* key) {
        QString why;
        if (!c.setByKey(QString::fromLatin1(key), f->text().trimmed(), &why)) {
            refused << why;
            f->setText(c.getByKey(QString::fromLatin1(key)));
        }
    };
    take(requestCommand_, "requestCommand");
    take(requestHotkey_, "requestHotkey");
    take(requestEvery_, "requestEverySeconds");
    take(dataLogFile_, "dataLogFile");
    return refused.join(u'\n');
}

void ReadingsBox::setInstrument(const ConfigHelper::Instrument& instrument, bool takeCommand) {
    const bool rule = instrument.hasStabilityRule();
    typeOnlyStable_->setEnabled(rule);
    oncePerPlacement_->setEnabled(rule);
    const QString why = rule ? QString() : text_(QStringLiteral("readings.noStabilityRule"));
    typeOnlyStable_->setToolTip(why);
    if (rule)
        oncePerPlacement_->setToolTip(text_(QStringLiteral("readings.oncePerPlacement.toolTip")));
    else
        oncePerPlacement_->setToolTip(why);
    if (takeCommand)
        requestCommand_->setText(instrument.getRequestCommand());
}

} // namespace vornal
