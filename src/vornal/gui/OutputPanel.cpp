#include "OutputPanel.h"

#include "MessageBoxes.h"
#include "TabSupport.h"

#include "platform/keys/KeyInjector.h"
#include "vornal/config/Config.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace vornal {

using config::ConfigHelper;

OutputPanel::OutputPanel(const TabTexts& texts, config::Config& config, QWidget* parent)
    : QWidget(parent), texts_(texts), config_(config) {
    auto* grid = new QGridLayout(this);
    decimalSeparatorBox = makeCombo(this, "decimalSeparatorBox");
    outputTerminatorBox = makeCombo(this, "outputTerminatorBox");
    outputTerminatorBox2 = makeCombo(this, "outputTerminatorBox2");
    startWithBox = makeCombo(this, "startWithBox");
    soundComboBox = makeCombo(this, "soundComboBox");
    keyboardTypeBox = makeCombo(this, "keyboardTypeBox");
    keyBackendBox = makeCombo(this, "keyBackendBox");
    delayTextField = makeField(this, "delayTextField");
    everyXValuesTextField = makeField(this, "everyXValuesTextField");
    prefixKeysTextField = makeField(this, "prefixKeysTextField");

    const auto label = [&](const char* name) { return texts.label(QString::fromLatin1(name)); };
    int r = 0;
    grid->addWidget(label("label4"), r, 0);
    grid->addWidget(decimalSeparatorBox, r++, 1);
    grid->addWidget(label("label17"), r, 0);
    grid->addWidget(startWithBox, r++, 1);
    grid->addWidget(label("prefixKeysLabel"), r, 0);
    grid->addWidget(prefixKeysTextField, r, 1);
    grid->addWidget(label("prefixKeysHint"), r++, 2, 1, 3);
    grid->addWidget(label("label5"), r, 0);
    grid->addWidget(outputTerminatorBox, r++, 1);
    grid->addWidget(label("label26"), r, 0);
    grid->addWidget(outputTerminatorBox2, r, 1);
    grid->addWidget(label("label27"), r, 2);
    grid->addWidget(everyXValuesTextField, r, 3);
    grid->addWidget(label("label33"), r++, 4);
    grid->addWidget(label("label18"), r, 0);
    grid->addWidget(soundComboBox, r++, 1);
    grid->addWidget(label("label23"), r, 0);
    grid->addWidget(keyboardTypeBox, r, 1);
    grid->addWidget(label("label34"), r++, 2, 1, 3);
    grid->addWidget(
        texts.label(QStringLiteral("label12"), TabTexts::kFrame + QStringLiteral("label12.text_2")), r, 0);
    grid->addWidget(delayTextField, r, 1);
    grid->addWidget(label("label35"), r++, 2, 1, 3);
    grid->addWidget(label("label37"), r, 0);
    grid->addWidget(keyBackendBox, r++, 1);
    grid->setColumnStretch(5, 1);
    grid->setRowStretch(r, 1);

    fillCombo<ConfigHelper::DecimalSeparator>(decimalSeparatorBox);
    fillCombo<ConfigHelper::OutputTerminator>(outputTerminatorBox);
    fillCombo<ConfigHelper::OutputTerminator>(outputTerminatorBox2);
    fillCombo<ConfigHelper::StartWith>(startWithBox);
    fillCombo<ConfigHelper::Sound>(soundComboBox);
    fillCombo<ConfigHelper::KeyboardType>(keyboardTypeBox);
    // The keystroke backends of this platform, by their stored names.
    for (const std::string& name : platform::keyBackendNames()) {
        const QString n = QString::fromStdString(name);
        keyBackendBox->addItem(texts.text(TabTexts::kFrame + QStringLiteral("keyBackendBox.") + n), n);
    }

    connect(keyboardTypeBox, &QComboBox::currentIndexChanged, this,
            &OutputPanel::keyboardTypeBoxItemStateChanged);
    // Highlighted when the chosen way was not available at Start; a new choice clears it.
    connect(keyBackendBox, &QComboBox::currentIndexChanged, this, [this] {
        keyBackendBox->setProperty("invalid", false);
        keyBackendBox->setStyleSheet(QString());
    });
    connect(delayTextField, &QLineEdit::textChanged, this, &OutputPanel::delayTextFieldCaretUpdate);
    followLayout(grid);
}

void OutputPanel::markKeyBackendUnavailable() {
    showTab(this);
    keyBackendBox->setProperty("invalid", true);
    keyBackendBox->setStyleSheet(QStringLiteral("QComboBox { border: 2px solid #d00000; }"));
    keyBackendBox->setFocus();
}

void OutputPanel::keyboardTypeBoxItemStateChanged() {
    const auto type = ConfigHelper::KeyboardType::fromOrdinal(keyboardTypeBox->currentIndex());
    if (!type)
        return;
    config_.setKeyboardType(*type);
    // Typing through every layout needs a little time between the keys.
    if (*type == ConfigHelper::KeyboardType::ALL && config_.getDelayAsInt() < 3) {
        MessageBoxes::information(window(), texts_.text(QStringLiteral("info.delay.keyboard.all")),
                                  texts_.text(QStringLiteral("info")));
        delayTextField->setText(QStringLiteral("3"));
    }
}

bool OutputPanel::acceptDelay(const QString& t) {
    if (t.isEmpty()) {
        config_.setDelay(t);
        return true;
    }
    bool digitsOnly = true;
    for (QChar c : t)
        digitsOnly = digitsOnly && c >= u'0' && c <= u'9';
    bool ok = false;
    const int ms = t.toInt(&ok, 10);
    if (digitsOnly && ok && ms >= 0 && ms <= 1000) {
        config_.setDelay(t);
        return true;
    }
    return false;
}

void OutputPanel::delayTextFieldCaretUpdate() {
    if (acceptDelay(delayTextField->text()))
        return;
    MessageBoxes::error(window(), texts_.text(QStringLiteral("error.intercharacter.delay")),
                        texts_.text(QStringLiteral("error")));
    // Changing the field while it reports its own change is not allowed: after this event.
    QTimer::singleShot(0, this, [this] { delayTextField->setText(QStringLiteral("20")); });
}

} // namespace vornal
