#include "InputPanel.h"

#include "MessageBoxes.h"
#include "TabSupport.h"
#include "dialogs/CustomRegExDialog.h"

#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/util/FriendlyPortUtil.h"

#include <Direduva/SerialPortLocal.h>

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <iostream>

namespace vornal {

using config::ConfigHelper;

namespace {
constexpr int kRecentNetworkPorts = 8;
const QString kRecentNetworkPortsKey = QStringLiteral("recentNetworkPorts");
} // namespace

InputPanel::InputPanel(const TabTexts& texts, config::Config& config, Services services, QWidget* parent)
    : QWidget(parent), texts_(texts), config_(config), services_(std::move(services)) {
    QWidget* panel = this;
    auto* grid = new QGridLayout(panel);
    auto caption = [&texts](const char* f) { return texts.caption(f); };

    portList = makeCombo(panel, "portList");
    portList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    portList->setMinimumContentsLength(53); // room for 53 "X"
    // Editable: a network instrument is typed in as tcp://HOST:PORT or rfc2217://HOST:PORT.
    portList->setEditable(true);
    portList->setInsertPolicy(QComboBox::NoInsert);
    instrumentBox = makeCombo(panel, "instrumentBox");
    instrumentBox->setMaxVisibleItems(20);
    // A scrolling list also under styles whose pop-up would otherwise show all 53 presets at once.
    instrumentBox->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    bitRateBox = makeCombo(panel, "bitRateBox");
    dataBitsBox = makeCombo(panel, "dataBitsBox");
    stopBitsBox = makeCombo(panel, "stopBitsBox");
    parityBox = makeCombo(panel, "parityBox");
    flowControlBox = makeCombo(panel, "flowControlBox");
    inputTerminatorBox = makeCombo(panel, "inputTerminatorBox");
    inputEncodingBox = makeCombo(panel, "inputEncodingBox");
    inputTerminatorBox->setEditable(true);
    inputTerminatorBox->setInsertPolicy(QComboBox::NoInsert);
    {
        const QString proto =
            texts_.text(TabTexts::kFrame + QStringLiteral("inputTerminatorBox.prototypeDisplayValue"));
        inputTerminatorBox->setMinimumContentsLength(static_cast<int>(proto.size()) + 2);
        inputTerminatorBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    }
    autoButton = makeButton(panel, "autoButton", caption("autoButton"));
    defaultButton = makeButton(panel, "defaultButton", caption("defaultButton"));
    refreshPortsButton = makeButton(panel, "refreshPortsButton", caption("refreshPortsButton"));
    customizeButton = makeButton(panel, "customizeButton", caption("customizeButton"));

    int r = 0;
    grid->addWidget(texts.label(QStringLiteral("label2")), r, 0);
    grid->addWidget(portList, r, 1, 1, 2);
    grid->addWidget(refreshPortsButton, r++, 3);
    grid->addWidget(texts.label(QStringLiteral("deviceLabel")), r, 0);
    grid->addWidget(instrumentBox, r, 1, 1, 2);
    grid->addWidget(defaultButton, r++, 3);
    grid->addWidget(texts.label(QStringLiteral("label3")), r, 0);
    grid->addWidget(bitRateBox, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label6")), r, 0);
    grid->addWidget(dataBitsBox, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label7")), r, 0);
    grid->addWidget(stopBitsBox, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label8")), r, 0);
    grid->addWidget(parityBox, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label9")), r, 0);
    grid->addWidget(flowControlBox, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label10")), r, 0);
    grid->addWidget(inputTerminatorBox, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label38")), r, 0);
    grid->addWidget(inputEncodingBox, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label14")), r, 0);
    grid->addWidget(autoButton, r++, 1);
    grid->addWidget(texts.label(QStringLiteral("label36")), r, 0);
    grid->addWidget(customizeButton, r, 1);
    customRegExMarker = new QLabel(texts_.text(QStringLiteral("custom.regex.in.use")), panel);
    customRegExMarker->setObjectName(QStringLiteral("customRegExMarker"));
    customRegExMarker->setStyleSheet(QStringLiteral("QLabel { font-weight: bold; color: #8a5a00; }"));
    customRegExMarker->setVisible(false);
    grid->addWidget(customRegExMarker, r++, 2, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(r, 1);
    followLayout(grid);

    fillIndexCombo<ConfigHelper::BitRates>(bitRateBox);
    fillIndexCombo<ConfigHelper::DataBits>(dataBitsBox);
    fillIndexCombo<ConfigHelper::StopBits>(stopBitsBox);
    fillIndexCombo<ConfigHelper::Parity>(parityBox);
    fillIndexCombo<ConfigHelper::Handshake>(flowControlBox);
    fillCombo<ConfigHelper::InputTerminator>(inputTerminatorBox);
    fillCombo<ConfigHelper::InputEncoding>(inputEncodingBox);
    for (const auto& i : ConfigHelper::Instrument::values()) {
        instrumentBox->addItem(i.toPlainString(), i.name());
        if (i.getInstrumentType() == ConfigHelper::InstrumentType::TEXT) {
            QFont italic = instrumentBox->font();
            italic.setItalic(true);
            instrumentBox->setItemData(instrumentBox->count() - 1, italic, Qt::FontRole);
        }
    }

    connect(portList, &QComboBox::activated, this, &InputPanel::portListItemStateChanged);
    connect(portList->lineEdit(), &QLineEdit::editingFinished, this, &InputPanel::portListItemStateChanged);
    connect(instrumentBox, &QComboBox::currentIndexChanged, this, &InputPanel::instrumentBoxItemStateChanged);
    connect(inputTerminatorBox, &QComboBox::activated, this, &InputPanel::inputTerminatorBoxItemStateChanged);
    connect(inputTerminatorBox->lineEdit(), &QLineEdit::editingFinished, this,
            &InputPanel::inputTerminatorBoxItemStateChanged);
    connect(autoButton, &QPushButton::clicked, this, &InputPanel::autoButtonActionPerformed);
    connect(defaultButton, &QPushButton::clicked, this, &InputPanel::defaultButtonActionPerformed);
    connect(refreshPortsButton, &QPushButton::clicked, this, &InputPanel::refreshPortsButtonActionPerformed);
    connect(customizeButton, &QPushButton::clicked, this, &InputPanel::customizeButtonActionPerformed);
}

void InputPanel::fillPortList() {
    const QSignalBlocker block(portList);
    portList->clear();
    for (const QString& p : ports_)
        portList->addItem(util::FriendlyPortUtil::getFriendlyPortName(p), p);
    // The network ports used lately, and the chosen one when it is a network port not among them.
    QStringList network = recentNetworkPorts_;
    if (Direduva::SerialPortLocal::isNetworkPortName(config_.getPort().toStdString()) &&
        !network.contains(config_.getPort()))
        network.prepend(config_.getPort());
    for (const QString& p : network)
        if (portList->findData(p) < 0)
            portList->addItem(p, p);
    const int at = portList->findData(config_.getPort());
    if (at >= 0)
        portList->setCurrentIndex(at);
    else if (portList->count() > 0)
        portList->setCurrentIndex(0);
}

void InputPanel::portListItemStateChanged() {
    // Typed text that is not the chosen item's is a port name of its own (a network port).
    const QString typed = portList->currentText().trimmed();
    const int at = portList->currentIndex();
    if (!typed.isEmpty() && (at < 0 || portList->itemText(at) != typed)) {
        const int known = portList->findText(typed, Qt::MatchExactly);
        if (known >= 0) {
            portList->setCurrentIndex(known);
        } else {
            const QString name = util::FriendlyPortUtil::getUnfriendlyPortName(typed);
            const std::string bad = Direduva::SerialPortLocal::isNetworkPortName(name.toStdString())
                                        ? Direduva::SerialPortLocal::checkPortName(name.toStdString())
                                        : std::string();
            if (!bad.empty()) {
                emit statusMessage(QString::fromStdString(bad));
                return;
            }
            choosePort(name);
            return;
        }
    }
    const QVariant plain = portList->currentData();
    if (plain.isValid())
        choosePort(plain.toString());
    else if (!portList->currentText().isEmpty())
        choosePort(util::FriendlyPortUtil::getUnfriendlyPortName(portList->currentText()));
}

void InputPanel::choosePort(const QString& port) {
    const QString refused = services_.portRefused ? services_.portRefused(port) : QString();
    if (refused.isEmpty()) {
        config_.setPort(port);
        return;
    }
    // The port stays with the instrument that has it; the box shows this one's port again.
    fillPortList();
    if (!services_.closing())
        MessageBoxes::error(window(), refused, texts_.text(QStringLiteral("error")));
}

void InputPanel::instrumentBoxItemStateChanged(int index) {
    const auto chosen = ConfigHelper::Instrument::fromOrdinal(index);
    if (!chosen)
        return;
    const auto before = config_.getInstrument();
    config_.setInstrument(*chosen);
    // The stability options follow the preset; a new preset brings its request command.
    if (services_.instrumentChosen)
        services_.instrumentChosen(*chosen, before && *before != *chosen);
    if (before && *before != *chosen && !config_.getCustomRegEx().isEmpty() && !services_.closing()) {
        if (MessageBoxes::confirm(window(), texts_.text(QStringLiteral("confirm.overwrite.custom.regex")),
                                  texts_.text(QStringLiteral("confirm"))))
            config_.setCustomRegEx(QString());
        showCustomRegExMarker();
    }
}

bool InputPanel::acceptInputTerminator(bool showErrors) {
    const QString typed = inputTerminatorBox->currentText().trimmed();
    // A named choice stores its character code.
    for (const auto& t : ConfigHelper::InputTerminator::values()) {
        if (typed == t.toString()) {
            config_.setInputTerminator(t.getDecimal());
            return true;
        }
    }
    bool ok = false;
    const int code = typed.toInt(&ok, 10);
    if (ok && ConfigHelper::InputTerminator::valid(code)) {
        config_.setInputTerminator(code);
        return true;
    }
    {
        const QSignalBlocker block(inputTerminatorBox);
        ConfigHelper::InputTerminator::setSelectedItem(*inputTerminatorBox, config_.getInputTerminator());
    }
    if (showErrors && !services_.closing()) {
        MessageBoxes::error(window(), texts_.text(QStringLiteral("terminator.must.be.between.0.and.255")),
                            texts_.text(QStringLiteral("error")));
        showTab(this);
    }
    return false;
}

void InputPanel::inputTerminatorBoxItemStateChanged() {
    // Pressing Enter reports both the choice and the end of editing; the dialog's focus change
    // reports another end of editing: one check at a time.
    if (terminatorCheckRunning_)
        return;
    terminatorCheckRunning_ = true;
    acceptInputTerminator(true);
    terminatorCheckRunning_ = false;
}

void InputPanel::defaultButtonActionPerformed() {
    const auto instrument = ConfigHelper::Instrument::fromOrdinal(instrumentBox->currentIndex());
    if (!instrument)
        return;
    if (const auto message = instrument->getDefaultMessage())
        MessageBoxes::information(window(), *message, texts_.text(QStringLiteral("defaults.title")));
    // Every preset carries its usual port settings: shown in the controls, which the record follows.
    config::Config d = config_;
    if (!d.applyPreset(*instrument)) {
        MessageBoxes::error(window(),
                            texts_.text(QStringLiteral("no.default.values.available.for.this.device")),
                            texts_.text(QStringLiteral("error")));
        return;
    }
    bitRateBox->setCurrentIndex(d.getBitRate());
    dataBitsBox->setCurrentIndex(d.getDataBits());
    stopBitsBox->setCurrentIndex(d.getStopBits());
    parityBox->setCurrentIndex(d.getParity());
    flowControlBox->setCurrentIndex(d.getHandshake());
    ConfigHelper::InputTerminator::setSelectedItem(*inputTerminatorBox, d.getInputTerminator());
    config_.setInputTerminator(d.getInputTerminator());
}

void InputPanel::refreshPortsButtonActionPerformed() {
    const PortListing listing = services_.listPorts();
    if (listing.libraryMissing) {
        MessageBoxes::error(window(),
                            texts_.text(QStringLiteral("error.listing.available.ports")) + listing.failure,
                            texts_.text(QStringLiteral("error")));
        return;
    }
    if (!listing.failure.isEmpty()) {
        MessageBoxes::error(window(),
                            texts_.text(QStringLiteral("error.listing.available.ports")) + listing.failure,
                            texts_.text(QStringLiteral("error")));
        return;
    }
    ports_ = listing.ports;
    emit portsRefreshed();
    const QString before = config_.getPort();
    fillPortList();
    if (ports_.isEmpty()) {
        MessageBoxes::error(
            window(),
            texts_.text(QStringLiteral("no.rs.232.port.found.on.your.system.program.will.now.exit")),
            texts_.text(QStringLiteral("error")));
        return;
    }
    // The list shows another port when the chosen one is gone: the record follows what is shown.
    if (portList->currentData().toString() != before)
        portListItemStateChanged();
}

void InputPanel::autoButtonActionPerformed() {
    // The dialog probes the listed ports and selects the port it finds in portList; the record follows
    // the list as after a choice of the user.
    const auto found = AutoPortDialog::run(window(), ports_, portList, services_.detection);
    if (found && portList->currentIndex() >= 0)
        portListItemStateChanged();
}

void InputPanel::customizeButtonActionPerformed() {
    // The expression is tried on the instrument's samples and on the lines received last.
    CustomRegExDialog::edit(window(), config_, services_.lastReceivedLines());
    showCustomRegExMarker();
}

void InputPanel::showCustomRegExMarker() {
    customRegExMarker->setVisible(!config_.getCustomRegEx().isEmpty());
    customRegExMarker->setToolTip(config_.getCustomRegEx());
}

void InputPanel::loadRecentNetworkPorts(std::shared_ptr<prefs::AbstractPreferences> node) {
    node_ = std::move(node);
    if (!node_)
        return;
    try {
        for (const QString& p : node_->get(kRecentNetworkPortsKey, QString()).split(u';', Qt::SkipEmptyParts))
            if (Direduva::SerialPortLocal::checkPortName(p.toStdString()).empty() &&
                Direduva::SerialPortLocal::isNetworkPortName(p.toStdString()) &&
                !recentNetworkPorts_.contains(p))
                recentNetworkPorts_.append(p);
    } catch (const std::exception& e) {
        std::cerr << "Settings: recent network ports: " << e.what() << std::endl;
    }
}

void InputPanel::rememberNetworkPort(const QString& port) {
    if (!Direduva::SerialPortLocal::isNetworkPortName(port.toStdString()))
        return;
    recentNetworkPorts_.removeAll(port);
    recentNetworkPorts_.prepend(port);
    while (recentNetworkPorts_.size() > kRecentNetworkPorts)
        recentNetworkPorts_.removeLast();
    // Shown as an item of the list from now on, chosen.
    if (portList->findData(port) < 0) {
        const QSignalBlocker block(portList);
        portList->addItem(port, port);
        portList->setCurrentIndex(portList->count() - 1);
    }
    if (!node_)
        return;
    try {
        node_->put(kRecentNetworkPortsKey, recentNetworkPorts_.join(u';'));
        node_->flush();
    } catch (const std::exception& e) {
        std::cerr << "Settings: recent network ports: " << e.what() << std::endl;
    }
}

void InputPanel::readPort() {
    if (portList->currentIndex() >= 0 || !portList->currentText().trimmed().isEmpty())
        portListItemStateChanged();
}

void InputPanel::readInstrument() {
    // Through setInstrument, and only on a change: its listeners hear of every new choice.
    if (const auto i = ConfigHelper::Instrument::fromOrdinal(instrumentBox->currentIndex()))
        if (config_.getInstrument() != i)
            config_.setInstrument(*i);
}

void InputPanel::fillInputTerminator() {
    ConfigHelper::InputTerminator::setSelectedItem(*inputTerminatorBox, config_.getInputTerminator());
}

} // namespace vornal
