#include "ReadingsBox.h"

#include <platform/hotkey/GlobalHotkey.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
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
    placementRule_ = new QLabel(this);
    placementRule_->setObjectName(QStringLiteral("placementRuleLabel"));
    placementRule_->setWordWrap(true);
    requestCommand_ = field(this, "requestCommandTextField", 160);
    requestCommand_->setToolTip(t("requestCommand.toolTip"));
    requestHotkey_ = field(this, "requestHotkeyTextField", 160);
    // The field records the combination pressed in it; Backspace, Delete or its clear button empty it.
    requestHotkey_->setPlaceholderText(hotkeyText(Qt::Key_R, Qt::ControlModifier | Qt::AltModifier));
    requestHotkey_->setClearButtonEnabled(true);
    requestHotkey_->installEventFilter(this);
    requestHotkey_->setToolTip(t("requestHotkey.toolTip"));
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
    dataLogMaxMiB_->setSuffix(u' ' + t("dataLogMaxBytes.unit"));
    dataLogMaxMiB_->setSpecialValueText(t("dataLogMaxBytes.none"));
    dataLogKeep_ = new QSpinBox(this);
    dataLogKeep_->setObjectName(QStringLiteral("dataLogKeepSpinBox"));
    dataLogKeep_->setRange(0, 99);

    auto* grid = new QGridLayout(this);
    int r = 0;
    grid->addWidget(typeOnlyStable_, r, 0, 1, 2);
    grid->addWidget(oncePerPlacement_, r++, 2, 1, 2);
    grid->addWidget(placementRule_, r++, 0, 1, 4);
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
        // In the user's language; the system's own words in the tool tip.
        const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland" ||
                             !qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty();
        hotkeyNote_->setText(wayland ? t("requestHotkey.wayland") : t("requestHotkey.unavailable"));
        hotkeyNote_->setToolTip(reason);
        requestHotkey_->setEnabled(false);
    }
    connect(browse_, &QPushButton::clicked, this, [this, t] {
        const QString chosen =
            QFileDialog::getSaveFileName(this, t("dataLogFile.choose"), dataLogFile_->text(),
                                         t("dataLogFile.filter"), nullptr, QFileDialog::DontConfirmOverwrite);
        if (!chosen.isEmpty())
            dataLogFile_->setText(chosen);
    });
}

QString ReadingsBox::hotkeyText(int key, Qt::KeyboardModifiers modifiers) {
    const bool letterOrDigit =
        (key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9);
    const bool function = key >= Qt::Key_F1 && key <= Qt::Key_F24;
    modifiers &= Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier;
    if (!letterOrDigit && !function)
        return QString();
    // A letter or digit alone (or with Shift) would take the key from every application.
    if (!function && !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return QString();
    const QKeySequence sequence(QKeyCombination(modifiers, Qt::Key(key)));
    const QString native = sequence.toString(QKeySequence::NativeText);
    return ConfigHelper::RequestHotkey::parse(native) ? native
                                                      : sequence.toString(QKeySequence::PortableText);
}

bool ReadingsBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched != requestHotkey_ ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return QGroupBox::eventFilter(watched, event);
    auto* press = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = press->modifiers() & ~Qt::KeypadModifier;
    const int key = press->key();
    if (event->type() == QEvent::ShortcutOverride) {
        // A combination pressed here is recorded, not taken by the window's Alt shortcuts.
        if (!hotkeyText(key, mods).isEmpty())
            press->accept();
        return false;
    }
    // The keys that move on or leave the field keep their meaning.
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Escape || key == Qt::Key_Return ||
         key == Qt::Key_Enter) &&
        !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) && mods == Qt::NoModifier) {
        requestHotkey_->clear();
        return true;
    }
    const QString combination = hotkeyText(key, mods);
    if (!combination.isEmpty())
        requestHotkey_->setText(combination);
    // Nothing is typed into the field: a press is a combination or nothing.
    return true;
}

QString ReadingsBox::hotkeyUnavailableReason() {
    static const QString reason = [] {
        std::string why;
        const auto backend = platform::createGlobalHotkey(&why);
        return backend ? QString() : QString::fromStdString(why);
    }();
    return reason;
}

const QStringList& ReadingsBox::keys() {
    static const QStringList k = {QStringLiteral("typeOnlyStable"),      QStringLiteral("oncePerPlacement"),
                                  QStringLiteral("dataLogMaxBytes"),     QStringLiteral("dataLogKeep"),
                                  QStringLiteral("requestCommand"),      QStringLiteral("requestHotkey"),
                                  QStringLiteral("requestEverySeconds"), QStringLiteral("dataLogFile")};
    return k;
}

QLineEdit* ReadingsBox::fieldOf(const QString& key) const {
    if (key == u"requestCommand")
        return requestCommand_;
    if (key == u"requestHotkey")
        return requestHotkey_;
    if (key == u"requestEverySeconds")
        return requestEvery_;
    if (key == u"dataLogFile")
        return dataLogFile_;
    return nullptr;
}

void ReadingsBox::fillSetting(const QString& key, const config::Config& c) {
    if (key == u"typeOnlyStable")
        typeOnlyStable_->setChecked(c.getTypeOnlyStable());
    else if (key == u"oncePerPlacement")
        oncePerPlacement_->setChecked(c.getOncePerPlacement());
    else if (key == u"dataLogMaxBytes")
        dataLogMaxMiB_->setValue((c.getDataLogMaxBytes() + kMiB - 1) / kMiB);
    else if (key == u"dataLogKeep")
        dataLogKeep_->setValue(c.getDataLogKeep());
    else if (QLineEdit* f = fieldOf(key))
        f->setText(c.getByKey(key));
}

void ReadingsBox::showFor(const config::Config& c) {
    if (const auto i = c.getInstrument())
        setInstrument(*i, false);
    showPlacementRule(c.getIgnoreDifference());
}

void ReadingsBox::showPlacementRule(const QString& difference) {
    placementRule_->setText(difference.isEmpty() ? text_(QStringLiteral("readings.placementRule.zero"))
                                                 : text_(QStringLiteral("readings.placementRule.difference"))
                                                       .replace(QStringLiteral("{0}"), difference));
}

QString ReadingsBox::storeSetting(const QString& key, config::Config& c) {
    if (key == u"typeOnlyStable") {
        c.setTypeOnlyStable(typeOnlyStable_->isChecked());
    } else if (key == u"oncePerPlacement") {
        c.setOncePerPlacement(oncePerPlacement_->isChecked());
    } else if (key == u"dataLogMaxBytes") {
        // The box shows whole MiB: a byte count set elsewhere (settings file, command line) is kept
        // unless the user changed the box.
        if (dataLogMaxMiB_->value() != (c.getDataLogMaxBytes() + kMiB - 1) / kMiB)
            c.setDataLogMaxBytes(dataLogMaxMiB_->value() * kMiB);
    } else if (key == u"dataLogKeep") {
        c.setDataLogKeep(dataLogKeep_->value());
    } else if (QLineEdit* f = fieldOf(key)) {
        QString why;
        if (!c.setByKey(key, f->text().trimmed(), &why)) {
            f->setText(c.getByKey(key));
            return why;
        }
    }
    return QString();
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
