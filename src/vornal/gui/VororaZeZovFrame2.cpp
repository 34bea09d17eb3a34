#include "VororaZeZovFrame2.h"

#include "ConnectionPresenter.h"
#include "EventLog.h"
#include "MessageBoxes.h"
#include "ReadingsBox.h"
#include "dialogs/CustomRegExDialog.h"
#include "dialogs/DialogTexts.h"
#include "dialogs/FieldVerifiers.h"
#include "dialogs/IgnoreDialog.h"
#include "dialogs/OpenHyperlinkInBrowser.h"
#include "dialogs/SettingsTransferDialogs.h"
#include "dialogs/TrayMinimizer.h"

#include "platform/keys/KeyInjector.h"
#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/prefs/PreferencesStore.h"
#include "vornal/util/FriendlyPortUtil.h"
#include "vornal/util/Links.h"
#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"
#include "vornal/worker/Connection.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/WeightWorker.h"

#include <Direduva/Errors.h>
#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <iostream>
#include <tuple>

namespace vornal {

using config::ConfigHelper;
using util::MessageFormat;

namespace {

const QString kFrame = QStringLiteral("VororaZeZovFrame2.");
std::atomic<bool> closingFlag{false};

QString prop(const char* name) {
    return QString::fromStdString(Direduva::ProcessProperties::get(name).value_or(std::string()));
}

// Each item carries the setting's stored form as its data: the constant's name, or for the port value
// sets (whose settings hold indices) the index.
template <class E> void fillCombo(QComboBox* box) {
    for (const auto& v : E::values())
        box->addItem(v.toString(), v.name());
}
template <class E> void fillIndexCombo(QComboBox* box) {
    for (const auto& v : E::values())
        box->addItem(v.toString(), QString::number(box->count()));
}

// The tab titles and mnemonic keys in tab order.
struct TabDef {
    const char* title;
    const char* mnemonic;
};
const TabDef kTabs[7] = {
    {"VororaZeZovFrame2.panel1.tab.title", "VororaZeZovFrame2.StartTabMnemonic"},
    {"VororaZeZovFrame2.inputPanel.tab.title", "VororaZeZovFrame2.InputTabMnemonic"},
    {"VororaZeZovFrame2.processingPanel.tab.title", "VororaZeZovFrame2.ProcessTabMnemonic"},
    {"VororaZeZovFrame2.outputPanel.tab.title", "VororaZeZovFrame2.OutputTabMnemonic"},
    {"VororaZeZovFrame2.settingsPanel.tab.title", "VororaZeZovFrame2.SettingsTabMnemonic"},
    {"VororaZeZovFrame2.eventLogPanel.tab.title", "VororaZeZovFrame2.EventLogTabMnemonic"},
    {"VororaZeZovFrame2.aboutPanel.tab.title", "VororaZeZovFrame2.AboutTabMnemonic"},
};

// Label fields with their keys, in tab order (label1 has the fixed text "Updates:").
const char* const kLabels[] = {
    "label2",  "deviceLabel", "label3",  "label6",  "label7",  "label8",  "label9",  "label10", "label14",
    "label36", "label24",     "label25", "label15", "label16", "label22", "label29", "label30", "label31",
    "label32", "label4",      "label5",  "label17", "label18", "label23", "label26", "label27", "label33",
    "label34", "label35",     "label37", "label13", "label28", "label38"};

// Controls with a tooltip.
// The controls with a tool tip that show no setting (those that do are in settingControls()).
const char* const kButtonToolTips[] = {"startStopJButton",     "autoButton",          "defaultButton",
                                       "refreshPortsButton",   "customizeButton",     "adjustIgnoreButton",
                                       "importSettingsButton", "exportSettingsButton"};

// Buttons and check boxes with a caption.
const char* const kCaptions[] = {"startStopJButton",
                                 "autoButton",
                                 "defaultButton",
                                 "refreshPortsButton",
                                 "customizeButton",
                                 "ignoreDuplicatesCheckBox",
                                 "adjustIgnoreButton",
                                 "manualConnectButton",
                                 "autoConnectButton",
                                 "minimizeToTrayCheckBox",
                                 "notifyWhenMinimizedToTrayCheckBox",
                                 "checkForUpdatesCheckBox",
                                 "abortAutoStartCheckBox",
                                 "reconnectCheckBox",
                                 "importSettingsButton",
                                 "exportSettingsButton"};

// Messages and titles of the window.
const char* const kMessages[] = {"error",
                                 "warning",
                                 "info",
                                 "fatal.error",
                                 "library.vazedo.not.found.or.not.matching.your.system",
                                 "program.will.now.exit",
                                 "no.rs.232.port.found.on.your.system.program.will.now.exit",
                                 "error.listing.available.ports",
                                 "error.while.loading.settings",
                                 "invalid.setting.found",
                                 "access.error.while.loading.settings",
                                 "autosave.error",
                                 "access.error.while.saving.settings",
                                 "please.enter.number.of.decimal.places.for.rounding.or.disable.division",
                                 "no.default.values.available.for.this.device",
                                 "terminator.must.be.between.0.and.255",
                                 "info.delay.keyboard.all",
                                 "error.intercharacter.delay",
                                 "error.initializing.keyboard.output",
                                 "please.turn.off.caps.lock",
                                 "error.while.initializing.sound.output",
                                 "sound.output.error",
                                 "error.opening.port",
                                 "invalid.setting",
                                 "keyboard.output.started.type",
                                 "previously.used.port.0.no.longer.available.naborting.auto.start",
                                 "internal.error",
                                 "switch.to.target.application",
                                 "line.count",
                                 "values.waiting.0",
                                 "VororaZeZovFrame2.keyBackendBox.auto",
                                 "VororaZeZovFrame2.keyBackendBox.wayland",
                                 "VororaZeZovFrame2.keyBackendBox.portal",
                                 "VororaZeZovFrame2.keyBackendBox.x11",
                                 "VororaZeZovFrame2.keyBackendBox.windows",
                                 "typing.held.status",
                                 "typing.behind.status",
                                 "custom.regex.in.use",
                                 "checking.for.update",
                                 "update.available",
                                 "update.check.failed",
                                 "VororaZeZovFrame2.startStopJButton.textStop",
                                 "VororaZeZovFrame2.statusJLabel.text",
                                 "VororaZeZovFrame2.inputTerminatorBox.prototypeDisplayValue",
                                 "VororaZeZovFrame2.label12.text_2",
                                 "VororaZeZovFrame2.aboutPane.text"};

// Texts of the Start tab's summary, the placement rule, the connection's state in the status line and
// the keyboard help.
const char* const kStatusKeys[] = {"readings.placementRule.zero",
                                   "readings.placementRule.difference",
                                   "connection.waiting.0.1",
                                   "connection.lost.0.1",
                                   "connection.lost.caption",
                                   "connection.reconnected.0",
                                   "connection.reconnected.caption",
                                   "tray.waiting.0",
                                   "tray.idle",
                                   "VororaZeZovFrame2.label1.text",
                                   "confirm.overwrite.custom.regex",
                                   "confirm",
                                   "defaults.title",
                                   "settings.store.failed",
                                   "custom.regex.log",
                                   "start.summary.0.1.2",
                                   "start.summary.noPort",
                                   "start.hint.noTerminator",
                                   "values.waiting.one",
                                   "status.dataLog.failing.0",
                                   "value.cut.status.0",
                                   "value.cut.caption",
                                   "typing.stopped.status.0",
                                   "typing.stopped.caption"};

// The worker messages the program uses.
const char* const kWorkerKeys[] = {"port.opened",
                                   "null.port.error",
                                   "parity.error",
                                   "framing.error",
                                   "unsent.data",
                                   "interrupted",
                                   "execution.exception",
                                   "stopped",
                                   "typing.held",
                                   "typing.behind.0.1",
                                   "typing.behind.one.1",
                                   "typing.held.backlog.0.1",
                                   "typing.held.backlog.one.1",
                                   "cannot_type.useAll",
                                   "value.cut.0",
                                   "and.error.unusual",
                                   "and.error.dataset.not.ready",
                                   "and.error.not.connected",
                                   "warning",
                                   "auto.port.detection.started",
                                   "testing.port.0",
                                   "confidence",
                                   "best.port",
                                   "could.not.auto.detect.port",
                                   "modem.lines.0.1.2",
                                   "modem.lines.unavailable.0.1",
                                   "line.on",
                                   "line.off",
                                   "line.na",
                                   "port.gone.closed.0.1",
                                   "barcode.parity.error",
                                   "barcode.framing.error",
                                   "port.gone.waiting.0.1",
                                   "reconnected.0",
                                   "stable.once.per.placement",
                                   "stable.only",
                                   "stable.no.rule",
                                   "data.log.0",
                                   "request.sent.0",
                                   "request.failed.0",
                                   "request.every.0",
                                   "request.socket.unavailable.0",
                                   "hotkey.sends.0",
                                   "hotkey.unusable.0.1",
                                   "request.no.command",
                                   "request.not.connected",
                                   "typing.through.0",
                                   "typing.not.through.0",
                                   "typing.warning.0",
                                   "typing.no.focus",
                                   "typing.modifiers.held",
                                   "typing.wait.no.focus",
                                   "typing.wait.modifiers",
                                   "typing.lost.0",
                                   "typing.lost.reason.0",
                                   "connection.ends.0",
                                   "typing.part.0.1",
                                   "not.typed.refused.0.1",
                                   "not.typed.output.stopped.0",
                                   "not.typed.connection.stopped.0",
                                   "typed.after.stop.0",
                                   "value.cut.detail.0",
                                   "result.partly.0.1",
                                   "result.cut.terminator.0",
                                   "result.cut.0.1",
                                   "result.not.typed.0.1",
                                   "result.refused.0.1",
                                   "reason.stopped",
                                   "reason.output.lost",
                                   "key.error.typing.0.1",
                                   "key.error.press.0.1.2",
                                   "key.error.release.0.1.2",
                                   "key.error.alt.0.1.2",
                                   "key.error.deadkey.0",
                                   "backend.unavailable.0.1.2",
                                   "backend.none.other",
                                   "backend.available.0",
                                   "backend.portal.not.tried",
                                   "port.used.by.others.0.1",
                                   "values.dropped.0.1",
                                   "values.dropped.more.0",
                                   "value.resumes.after.stop.0",
                                   "request.command.missing",
                                   "request.socket.open.again",
                                   "request.socket.failed.0.1",
                                   "request.socket.taken.over",
                                   "request.socket.held.0.1",
                                   "request.socket.other.connection",
                                   "request.socket.cannot.listen.0.1",
                                   "request.socket.no.folder.0.1",
                                   "folder.not.folder",
                                   "folder.other.user",
                                   "folder.open.to.others",
                                   "peer.user.0",
                                   "peer.unknown",
                                   "data.log.written.again.0.1.2.3.4",
                                   "data.log.failing.0.1"};

} // namespace

bool VororaZeZovFrame2::closing() {
    return closingFlag;
}
void VororaZeZovFrame2::setClosing(bool on) {
    closingFlag = on;
}

QList<QPair<QString, QStringList>> VororaZeZovFrame2::requiredKeys(const QString& windowBundle) {
    QStringList window;
    for (const auto& t : kTabs) {
        window += QString::fromLatin1(t.title);
        window += QString::fromLatin1(t.mnemonic);
    }
    for (const char* l : kLabels)
        window += kFrame + QString::fromLatin1(l) + QStringLiteral(".text");
    for (const char* c : kButtonToolTips)
        window += kFrame + QString::fromLatin1(c) + QStringLiteral(".toolTipText");
    for (const SettingControl& row : settingControls())
        if (!row.ownToolTip)
            window += kFrame + QString::fromLatin1(row.control) + QStringLiteral(".toolTipText");
    for (const char* c : kCaptions)
        window += kFrame + QString::fromLatin1(c) + QStringLiteral(".text");
    for (const char* m : kMessages)
        window += QString::fromLatin1(m);
    for (const char* m : kStatusKeys)
        window += QString::fromLatin1(m);
    // The option dialogs, validated fields, tray balloon and settings file dialogs.
    for (const QString& k : DialogTexts::requiredKeys())
        if (!window.contains(k))
            window += k;
    QStringList workerKeys;
    for (const char* k : kWorkerKeys)
        workerKeys += QString::fromLatin1(k);
    return {{windowBundle, window},
            {QStringLiteral("vornal.config.ConfigBundle"), ConfigHelper::bundleKeys()},
            {QStringLiteral("vornal.worker.WorkerBundle"), workerKeys}};
}

QString VororaZeZovFrame2::versionLine() {
    return QStringLiteral("Version %1 %2 %3 %4\n")
        .arg(prop("VERSION"), util::ResourceBundle::locale().toUpper(), prop("VAZ_OSNAME"),
             prop("VAZ_OSARCH"));
}

// ======================================================================== start-up

VororaZeZovFrame2::VororaZeZovFrame2(Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Links open in the standard browser; a failure shows "A problem occured". The validated fields keep
    // quiet while the window closes.
    DesktopLinks::install();
    FieldVerifier::setClosingCheck(&VororaZeZovFrame2::closing);
    // The record starts with its defaults; the window's texts come from its bundle.
    bundle_ = &util::ResourceBundle::get(options_.windowBundle);
    // Every text the program needs must be there.
    if (!checkResources()) {
        MessageBoxes::error(
            nullptr,
            QStringLiteral("Program files seem to be damaged or missing!\nTry downloading and "
                           "reinstalling the program."),
            QStringLiteral("Fatal error"));
        fatalExitCode_ = 4;
        return;
    }
    // The serial ports; without a driver library the program ends.
    if (!readPorts()) {
        fatalExitCode_ = 2;
        return;
    }
    // The settings; a port from the command line wins.
    loadSettings();
    loadRecentNetworkPorts();
    if (portFromCommandLine_)
        config_.setPort(ports_.first());
    // What was loaded is what is stored: no save until something changes.
    oldConfig_ = config_;
    initComponents();
    // The occasional update check (one start in four, when the setting allows it).
    startUpdateCheck();
    // Icons, visible, tooltips for 10 s (each control's tooltip duration, see initComponents).
    loadIcons();
    if (options_.show)
        show();
    // The record takes what the controls show (a refused stored value shows its replacement).
    updateConfigFromTabs();
    // Minimisation to the tray, when the setting asks for it.
    trayMinimizer_ = new TrayMinimizer(options_.systemTray, this);
    if (config_.minimizeToTray)
        trayInstalled_ = installTrayMinimization();
    // A connection at once, when the settings ask for it.
    if (options_.autoStart)
        autoStart();
}

VororaZeZovFrame2::~VororaZeZovFrame2() {
    // The application's focus signals fire while the widget base class hides this window: by then
    // this class is gone, so its slots must be too.
    QObject::disconnect(qApp, nullptr, this, nullptr);
    QObject::disconnect(qGuiApp, nullptr, this, nullptr);
    // So must the slots of the controls: a focused line edit (the editable port box) finishes its
    // editing when the base class hides the window.
    for (QObject* child : findChildren<QObject*>())
        QObject::disconnect(child, nullptr, this, nullptr);
    // Ends the reading and the typing.
    delete presenter_;
    presenter_ = nullptr;
}

QString VororaZeZovFrame2::text(const QString& key) const {
    return bundle_->getString(key);
}

QString VororaZeZovFrame2::tip(const QString& field) const {
    return text(kFrame + field + QStringLiteral(".toolTipText"));
}

bool VororaZeZovFrame2::checkResources() {
    bool ok = true;
    for (const auto& [name, keys] : requiredKeys(options_.windowBundle)) {
        const auto& bundle = util::ResourceBundle::get(name);
        if (!bundle.isValid()) {
            std::cerr << "Resource bundle missing: " << name.toStdString() << std::endl;
            ok = false;
            continue;
        }
        for (const QString& key : keys) {
            if (!bundle.contains(key)) {
                std::cerr << "Resource missing: " << name.toStdString() << ' ' << key.toStdString()
                          << std::endl;
                ok = false;
            }
        }
    }
    return ok;
}

VororaZeZovFrame2::PortListing VororaZeZovFrame2::listPorts() {
    if (options_.listPorts)
        return options_.listPorts();
    PortListing listing;
    try {
        for (const auto& p : Direduva::SerialPortLocal::getPortList()) {
            if (p.empty())
                listing.entryMissing = true;
            else
                listing.ports += QString::fromStdString(p);
        }
    } catch (const std::exception& e) {
        listing.failure = QString::fromUtf8(e.what());
    }
    if (!Direduva::SerialPortLocal::isLibraryLoaded()) {
        listing.libraryMissing = true;
        listing.failure = QString::fromStdString(Direduva::SerialPortLocal::libraryLoadError());
        return listing;
    }
    if (!listing.ports.isEmpty()) {
        try {
            util::FriendlyPortUtil::update();
        } catch (const std::exception& e) {
            // Without details the plain names are shown.
            std::cerr << "Port details unavailable: " << e.what() << std::endl;
        }
    }
    return listing;
}

bool VororaZeZovFrame2::readPorts() {
    const QString arg0 = options_.args.value(0);
    if (!arg0.isEmpty()) {
        ports_ = QStringList{arg0};
        portFromCommandLine_ = true;
        return true;
    }
    const PortListing listing = listPorts();
    if (listing.libraryMissing) {
        QString system;
        const QString os = prop("VAZ_OSNAME"), arch = prop("VAZ_OSARCH");
        if (!os.isEmpty() && !arch.isEmpty())
            system = QStringLiteral(" (%1 %2)").arg(os, arch);
        if (!listing.failure.isEmpty())
            std::cerr << "Serial driver: " << listing.failure.toStdString() << std::endl;
        MessageBoxes::error(nullptr,
                            text(QStringLiteral("library.vazedo.not.found.or.not.matching.your.system")) +
                                system + u'\n' + text(QStringLiteral("program.will.now.exit")),
                            text(QStringLiteral("fatal.error")));
        return false;
    }
    ports_ = listing.ports;
    if (!listing.failure.isEmpty()) {
        MessageBoxes::error(nullptr, text(QStringLiteral("error.listing.available.ports")) + listing.failure,
                            text(QStringLiteral("error")));
    } else if (ports_.isEmpty()) {
        // The window still opens; the refresh button fills the list once a port is there.
        MessageBoxes::error(nullptr,
                            text(QStringLiteral("no.rs.232.port.found.on.your.system.program.will.now.exit")),
                            text(QStringLiteral("error")));
    } else if (listing.entryMissing) {
        MessageBoxes::error(nullptr, text(QStringLiteral("error.listing.available.ports")),
                            text(QStringLiteral("error")));
    }
    return true;
}

void VororaZeZovFrame2::loadSettings() {
    prefs::PreferencesStore::select(options_.storeFile);
    const QString title = text(QStringLiteral("error.while.loading.settings"));
    try {
        node_ = prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
        const auto result = config_.loadConfig(*node_, ports_);
        if (!result.valid)
            MessageBoxes::error(
                nullptr, text(QStringLiteral("invalid.setting.found")) + u'\n' + result.warnings.join(u'\n'),
                title);
    } catch (const std::exception& e) {
        std::cerr << "Settings: " << e.what() << std::endl;
        MessageBoxes::error(nullptr,
                            text(QStringLiteral("access.error.while.loading.settings")) + u'\n' +
                                QString::fromUtf8(e.what()),
                            title);
        config_ = config::Config();
        config_.setInstrument(ConfigHelper::Instrument::getDefault());
        if (!ports_.isEmpty())
            config_.setPort(ports_.first());
    }
}

void VororaZeZovFrame2::loadIcons() {
    QIcon icon;
    for (const char* name : {"Vornal32.png", "Vornal24.png", "Vornal20.png", "Vornal16.png"}) {
        const QString path = options_.iconFolder + QString::fromLatin1(name);
        if (!QFile::exists(path)) {
            std::cerr << "Couldn't find file: " << path.toStdString() << std::endl;
            continue;
        }
        icon.addFile(path);
    }
    setWindowIcon(icon);
}

void VororaZeZovFrame2::startUpdateCheck() {
    // In the background; its texts come back to the status label through setText.
    const QString language = util::ResourceBundle::locale().section(u'_', 0, 0).toLower();
    updateWorker_ = util::UpdateWorker::startAtLaunch(this, config_.checkForUpdates, prop("VERSION"),
                                                      language, options_.updateRandom);
}

bool VororaZeZovFrame2::installTrayMinimization() {
    // Returns whether the tray took over minimising (not on a desktop without a tray).
    return trayMinimizer_ && trayMinimizer_->addMinimizeToTraySupport(this, config_);
}

void VororaZeZovFrame2::removeTrayMinimization() {
    if (trayMinimizer_)
        trayMinimizer_->removeMinimizeToTraySupport();
}

void VororaZeZovFrame2::autoStart() {
    if (config_.getConnect() != ConfigHelper::Connect::AUTO)
        return;
    if (config_.abortAutoStartWhenPrevPortNotAvailable && !portFromCommandLine_ &&
        config_.getPort() != config_.getPrevPort()) {
        MessageBoxes::error(
            this,
            MessageFormat::format(
                text(QStringLiteral("previously.used.port.0.no.longer.available.naborting.auto.start")),
                config_.getPrevPort()),
            text(QStringLiteral("error")));
        return;
    }
    startStopJButtonActionPerformed();
    // Iconifying sends the window to the tray; without a tray it stays in view.
    if (config_.minimizeToTray && trayInstalled_)
        showMinimized();
}

// ======================================================================== building the controls

QString VororaZeZovFrame2::withMnemonic(const QString& text, QChar mnemonic) {
    QString escaped = text;
    escaped.replace(u'&', QStringLiteral("&&"));
    if (mnemonic.isNull())
        return escaped;
    const qsizetype at = escaped.indexOf(mnemonic, 0, Qt::CaseInsensitive);
    if (at < 0)
        return escaped;
    return escaped.insert(at, u'&');
}

QLabel* VororaZeZovFrame2::label(const QString& field, const QString& key) {
    auto* l = new QLabel(text(key.isEmpty() ? kFrame + field + QStringLiteral(".text") : key));
    l->setObjectName(field);
    return l;
}

QWidget* VororaZeZovFrame2::control(const QString& fieldName) const {
    if (fieldName.isEmpty())
        return nullptr;
    return findChild<QWidget*>(fieldName);
}

void VororaZeZovFrame2::initComponents() {
    setWindowTitle(QStringLiteral("Halvorn Vornal"));
    setObjectName(QStringLiteral("VororaZeZovFrame2"));
    auto* root = new QVBoxLayout(this);
    tabbedPane_ = new QTabWidget(this);
    tabbedPane_->setObjectName(QStringLiteral("tabbedPane"));
    panels_[StartTab] = buildStartPanel();
    panels_[InputTab] = buildInputPanel();
    panels_[ProcessingTab] = buildProcessingPanel();
    panels_[OutputTab] = buildOutputPanel();
    panels_[SettingsTab] = buildSettingsPanel();
    panels_[EventLogTab] = buildEventLogPanel();
    panels_[AboutTab] = buildAboutPanel();
    const char* names[7] = {"panel1",        "inputPanel",    "processingPanel", "outputPanel",
                            "settingsPanel", "eventLogPanel", "aboutPanel"};
    for (int i = 0; i < 7; ++i)
        panels_[i]->setObjectName(QString::fromLatin1(names[i]));
    addTabs();
    assignMnemonics();
    for (QPushButton* b : findChildren<QPushButton*>())
        b->installEventFilter(this);
    installVerifiers();
    root->addWidget(tabbedPane_, 1);
    statusJLabel_ = new QLabel(this);
    statusJLabel_->setObjectName(QStringLiteral("statusJLabel"));
    statusJLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long status wraps instead of widening the window.
    statusJLabel_->setWordWrap(true);
    statusJLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusJLabel_->setMinimumWidth(1);
    // The update check's "update.available" carries a link to the download page.
    if (util::OpenHyperlinkInBrowser::isBrowsingSupported())
        new LinkMouseListener(statusJLabel_);
    root->addWidget(statusJLabel_);
    presenter_ = new ConnectionPresenter(this, *bundle_, eventLog_, statusJLabel_);
    connect(presenter_, &ConnectionPresenter::connecting, this, &VororaZeZovFrame2::applyConnectingState);
    connect(presenter_, &ConnectionPresenter::connectedChanged, this,
            &VororaZeZovFrame2::applyConnectedState);
    connect(presenter_, &ConnectionPresenter::notice, this, &VororaZeZovFrame2::notifyWhenHidden);
    connect(presenter_, &ConnectionPresenter::trayStatus, this, &VororaZeZovFrame2::showTrayStatus);
    connect(presenter_, &ConnectionPresenter::keyBackendUnavailable, this,
            &VororaZeZovFrame2::showKeyBackendUnavailable);
    presenter_->showStatusIdle();

    // Tooltips: key-based texts, visible for 10 s.
    QStringList withTip;
    for (const char* c : kButtonToolTips)
        withTip += QString::fromLatin1(c);
    for (const SettingControl& row : settingControls())
        if (!row.ownToolTip)
            withTip += QString::fromLatin1(row.control);
    for (const QString& name : withTip) {
        if (QWidget* w = control(name)) {
            w->setToolTip(tip(name));
            w->setToolTipDuration(10000);
        }
    }
    // A change of a combo box or check box goes straight into the record (the other controls are read
    // when they are left, or have handlers of their own).
    for (const SettingControl& row : settingControls()) {
        if (row.read)
            continue;
        QWidget* w = control(QString::fromLatin1(row.control));
        if (auto* box = qobject_cast<QComboBox*>(w))
            connect(box, &QComboBox::currentIndexChanged, this, [this, &row] { readSetting(row); });
        else if (auto* check = qobject_cast<QCheckBox*>(w))
            connect(check, &QCheckBox::toggled, this, [this, &row] { readSetting(row); });
    }
    fillFromConfig();
    // The keyboard starts on the Start button.
    startStopJButton_->setFocus();

    currentPanel_ = tabbedPane_->currentWidget();
    connect(tabbedPane_, &QTabWidget::currentChanged, this, &VororaZeZovFrame2::tabbedPaneStateChanged);
    // Keys typed while this window has the focus would press its own buttons: typing waits meanwhile.
    connect(qApp, &QApplication::focusChanged, this, &VororaZeZovFrame2::updateTypingHold);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &VororaZeZovFrame2::updateTypingHold);
}

bool VororaZeZovFrame2::hasKeyboardFocus() const {
    const QWidget* active = QApplication::activeWindow();
    return isVisible() && active && (active == this || isAncestorOf(active));
}

void VororaZeZovFrame2::updateTypingHold() {
    if (presenter_)
        presenter_->setTypingHeld(hasKeyboardFocus());
}

void VororaZeZovFrame2::addTabs() {
    for (int i = 0; i < 7; ++i) {
        const QString title = text(QString::fromLatin1(kTabs[i].title));
        const QString mnemonic = text(QString::fromLatin1(kTabs[i].mnemonic));
        const QChar m = mnemonic.isEmpty() ? QChar() : mnemonic.at(0);
        tabbedPane_->insertTab(i, panels_[i], withMnemonic(title, m));
        // A mnemonic that the title does not contain still selects its tab with Alt.
        if (!m.isNull() && !title.contains(m, Qt::CaseInsensitive)) {
            auto* shortcut =
                new QShortcut(QKeySequence(Qt::ALT | QKeySequence(QString(m.toUpper()))[0].key()), this);
            QWidget* panel = panels_[i];
            connect(shortcut, &QShortcut::activated, this, [this, panel] {
                const int idx = tabbedPane_->indexOf(panel);
                if (idx >= 0)
                    tabbedPane_->setCurrentIndex(idx);
            });
        }
    }
}

QWidget* VororaZeZovFrame2::buildStartPanel() {
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->addStretch(1);
    startStopJButton_ = new QPushButton(panel);
    startStopJButton_->setObjectName(QStringLiteral("startStopJButton"));
    startStopJButton_->setText(withMnemonic(text(kFrame + QStringLiteral("startStopJButton.text")), u'T'));
    startStopJButton_->setMinimumSize(220, 64);
    QFont f = startStopJButton_->font();
    f.setPointSizeF(f.pointSizeF() * 1.6);
    f.setBold(true);
    startStopJButton_->setFont(f);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(startStopJButton_);
    row->addStretch(1);
    layout->addLayout(row);
    requestButton_ = new QPushButton(text(QStringLiteral("readings.request")), panel);
    requestButton_->setObjectName(QStringLiteral("requestButton"));
    requestButton_->setToolTip(text(QStringLiteral("readings.request.toolTip")));
    requestButton_->setEnabled(false);
    auto* requestRow = new QHBoxLayout;
    requestRow->addStretch(1);
    requestRow->addWidget(requestButton_);
    requestRow->addStretch(1);
    layout->addLayout(requestRow);
    // What a start will use, and a hint where values would run together.
    startSummary_ = new QLabel(panel);
    startSummary_->setObjectName(QStringLiteral("startSummaryLabel"));
    startSummary_->setAlignment(Qt::AlignHCenter);
    startSummary_->setWordWrap(true);
    startHint_ = new QLabel(panel);
    startHint_->setObjectName(QStringLiteral("startHintLabel"));
    startHint_->setAlignment(Qt::AlignHCenter);
    startHint_->setWordWrap(true);
    startHint_->setStyleSheet(QStringLiteral("QLabel { color: #8a5a00; }"));
    layout->addWidget(startSummary_);
    layout->addWidget(startHint_);
    layout->addStretch(1);
    connect(startStopJButton_, &QPushButton::clicked, this,
            &VororaZeZovFrame2::startStopJButtonActionPerformed);
    connect(requestButton_, &QPushButton::clicked, this, [this] { presenter_->request(); });
    return panel;
}

namespace {
QComboBox* makeCombo(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}
QLineEdit* makeField(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setMaximumWidth(160);
    return field;
}
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}
} // namespace

QWidget* VororaZeZovFrame2::buildInputPanel() {
    auto* panel = new QWidget;
    auto* grid = new QGridLayout(panel);
    auto caption = [this](const char* f) {
        return text(kFrame + QString::fromLatin1(f) + QStringLiteral(".text"));
    };

    portList_ = makeCombo(panel, "portList");
    portList_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    portList_->setMinimumContentsLength(53); // room for 53 "X"
    // Editable: a network instrument is typed in as tcp://HOST:PORT or rfc2217://HOST:PORT.
    portList_->setEditable(true);
    portList_->setInsertPolicy(QComboBox::NoInsert);
    instrumentBox_ = makeCombo(panel, "instrumentBox");
    instrumentBox_->setMaxVisibleItems(20);
    // A scrolling list also under styles whose pop-up would otherwise show all 53 presets at once.
    instrumentBox_->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    bitRateBox_ = makeCombo(panel, "bitRateBox");
    dataBitsBox_ = makeCombo(panel, "dataBitsBox");
    stopBitsBox_ = makeCombo(panel, "stopBitsBox");
    parityBox_ = makeCombo(panel, "parityBox");
    flowControlBox_ = makeCombo(panel, "flowControlBox");
    inputTerminatorBox_ = makeCombo(panel, "inputTerminatorBox");
    inputEncodingBox_ = makeCombo(panel, "inputEncodingBox");
    inputTerminatorBox_->setEditable(true);
    inputTerminatorBox_->setInsertPolicy(QComboBox::NoInsert);
    {
        const QString proto = text(kFrame + QStringLiteral("inputTerminatorBox.prototypeDisplayValue"));
        inputTerminatorBox_->setMinimumContentsLength(static_cast<int>(proto.size()) + 2);
        inputTerminatorBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    }
    autoButton_ = makeButton(panel, "autoButton", caption("autoButton"));
    defaultButton_ = makeButton(panel, "defaultButton", caption("defaultButton"));
    refreshPortsButton_ = makeButton(panel, "refreshPortsButton", caption("refreshPortsButton"));
    customizeButton_ = makeButton(panel, "customizeButton", caption("customizeButton"));

    int r = 0;
    grid->addWidget(label(QStringLiteral("label2")), r, 0);
    grid->addWidget(portList_, r, 1, 1, 2);
    grid->addWidget(refreshPortsButton_, r++, 3);
    grid->addWidget(label(QStringLiteral("deviceLabel")), r, 0);
    grid->addWidget(instrumentBox_, r, 1, 1, 2);
    grid->addWidget(defaultButton_, r++, 3);
    grid->addWidget(label(QStringLiteral("label3")), r, 0);
    grid->addWidget(bitRateBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label6")), r, 0);
    grid->addWidget(dataBitsBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label7")), r, 0);
    grid->addWidget(stopBitsBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label8")), r, 0);
    grid->addWidget(parityBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label9")), r, 0);
    grid->addWidget(flowControlBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label10")), r, 0);
    grid->addWidget(inputTerminatorBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label38")), r, 0);
    grid->addWidget(inputEncodingBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label14")), r, 0);
    grid->addWidget(autoButton_, r++, 1);
    grid->addWidget(label(QStringLiteral("label36")), r, 0);
    grid->addWidget(customizeButton_, r, 1);
    customRegExMarker_ = new QLabel(text(QStringLiteral("custom.regex.in.use")), panel);
    customRegExMarker_->setObjectName(QStringLiteral("customRegExMarker"));
    customRegExMarker_->setStyleSheet(QStringLiteral("QLabel { font-weight: bold; color: #8a5a00; }"));
    customRegExMarker_->setVisible(false);
    grid->addWidget(customRegExMarker_, r++, 2, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(r, 1);
    followLayout(grid);

    fillIndexCombo<ConfigHelper::BitRates>(bitRateBox_);
    fillIndexCombo<ConfigHelper::DataBits>(dataBitsBox_);
    fillIndexCombo<ConfigHelper::StopBits>(stopBitsBox_);
    fillIndexCombo<ConfigHelper::Parity>(parityBox_);
    fillIndexCombo<ConfigHelper::Handshake>(flowControlBox_);
    fillCombo<ConfigHelper::InputTerminator>(inputTerminatorBox_);
    fillCombo<ConfigHelper::InputEncoding>(inputEncodingBox_);
    for (const auto& i : ConfigHelper::Instrument::values()) {
        instrumentBox_->addItem(i.toPlainString(), i.name());
        if (i.getInstrumentType() == ConfigHelper::InstrumentType::TEXT) {
            QFont italic = instrumentBox_->font();
            italic.setItalic(true);
            instrumentBox_->setItemData(instrumentBox_->count() - 1, italic, Qt::FontRole);
        }
    }

    connect(portList_, &QComboBox::activated, this, &VororaZeZovFrame2::portListItemStateChanged);
    connect(portList_->lineEdit(), &QLineEdit::editingFinished, this,
            &VororaZeZovFrame2::portListItemStateChanged);
    connect(instrumentBox_, &QComboBox::currentIndexChanged, this,
            &VororaZeZovFrame2::instrumentBoxItemStateChanged);
    connect(inputTerminatorBox_, &QComboBox::activated, this,
            &VororaZeZovFrame2::inputTerminatorBoxItemStateChanged);
    connect(inputTerminatorBox_->lineEdit(), &QLineEdit::editingFinished, this,
            &VororaZeZovFrame2::inputTerminatorBoxItemStateChanged);
    connect(autoButton_, &QPushButton::clicked, this, &VororaZeZovFrame2::autoButtonActionPerformed);
    connect(defaultButton_, &QPushButton::clicked, this, &VororaZeZovFrame2::defaultButtonActionPerformed);
    connect(refreshPortsButton_, &QPushButton::clicked, this,
            &VororaZeZovFrame2::refreshPortsButtonActionPerformed);
    connect(customizeButton_, &QPushButton::clicked, this,
            &VororaZeZovFrame2::customizeButtonActionPerformed);
    return panel;
}

QWidget* VororaZeZovFrame2::buildProcessingPanel() {
    auto* panel = new QWidget;
    auto* grid = new QGridLayout(panel);
    mathOperationBox_ = makeCombo(panel, "mathOperationBox");
    mathOperandTextField_ = makeField(panel, "mathOperandTextField");
    decimalTextField_ = makeField(panel, "decimalTextField");
    roundingMethodBox_ = makeCombo(panel, "roundingMethodBox");
    editOperationComboBox_ = makeCombo(panel, "editOperationComboBox");
    editPositionComboBox_ = makeCombo(panel, "editPositionComboBox");
    editNumCharactersTextField_ = makeField(panel, "editNumCharactersTextField");
    removeCharactersTextField_ = makeField(panel, "removeCharactersTextField");
    removeCharactersTextField_->setMaximumWidth(320);
    ignoreDuplicatesCheckBox_ =
        new QCheckBox(text(kFrame + QStringLiteral("ignoreDuplicatesCheckBox.text")), panel);
    ignoreDuplicatesCheckBox_->setObjectName(QStringLiteral("ignoreDuplicatesCheckBox"));
    adjustIgnoreButton_ =
        makeButton(panel, "adjustIgnoreButton", text(kFrame + QStringLiteral("adjustIgnoreButton.text")));

    int r = 0;
    grid->addWidget(label(QStringLiteral("label24")), r, 0);
    grid->addWidget(mathOperationBox_, r, 1);
    grid->addWidget(label(QStringLiteral("label25")), r, 2);
    grid->addWidget(mathOperandTextField_, r++, 3);
    grid->addWidget(label(QStringLiteral("label15")), r, 0);
    grid->addWidget(decimalTextField_, r, 1);
    grid->addWidget(label(QStringLiteral("label16")), r, 2);
    grid->addWidget(roundingMethodBox_, r++, 3);
    grid->addWidget(label(QStringLiteral("label22")), r, 0);
    grid->addWidget(editOperationComboBox_, r, 1);
    grid->addWidget(label(QStringLiteral("label29")), r, 2);
    grid->addWidget(editPositionComboBox_, r++, 3);
    grid->addWidget(label(QStringLiteral("label30")), r, 0);
    grid->addWidget(editNumCharactersTextField_, r++, 1);
    grid->addWidget(label(QStringLiteral("label31")), r, 0);
    grid->addWidget(removeCharactersTextField_, r++, 1, 1, 3);
    grid->addWidget(label(QStringLiteral("label32")), r, 0);
    grid->addWidget(ignoreDuplicatesCheckBox_, r, 1);
    grid->addWidget(adjustIgnoreButton_, r++, 2);
    readingsBox_ = new ReadingsBox([this](const QString& key) { return text(key); }, panel);
    grid->addWidget(readingsBox_, r++, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(r, 1);
    followLayout(readingsBox_->layout());

    fillCombo<ConfigHelper::MathOperation>(mathOperationBox_);
    fillCombo<ConfigHelper::RoundingMethod>(roundingMethodBox_);
    fillCombo<ConfigHelper::EditOperation>(editOperationComboBox_);
    fillCombo<ConfigHelper::EditPosition>(editPositionComboBox_);

    connect(mathOperationBox_, &QComboBox::currentIndexChanged, this,
            &VororaZeZovFrame2::mathOperationBoxItemStateChanged);
    connect(adjustIgnoreButton_, &QPushButton::clicked, this,
            &VororaZeZovFrame2::adjustIgnoreButtonActionPerformed);
    // The four text fields are checked when they are left (installVerifiers).
    followLayout(grid);
    return panel;
}

QWidget* VororaZeZovFrame2::buildOutputPanel() {
    auto* panel = new QWidget;
    auto* grid = new QGridLayout(panel);
    decimalSeparatorBox_ = makeCombo(panel, "decimalSeparatorBox");
    outputTerminatorBox_ = makeCombo(panel, "outputTerminatorBox");
    outputTerminatorBox2_ = makeCombo(panel, "outputTerminatorBox2");
    startWithBox_ = makeCombo(panel, "startWithBox");
    soundComboBox_ = makeCombo(panel, "soundComboBox");
    keyboardTypeBox_ = makeCombo(panel, "keyboardTypeBox");
    keyBackendBox_ = makeCombo(panel, "keyBackendBox");
    delayTextField_ = makeField(panel, "delayTextField");
    everyXValuesTextField_ = makeField(panel, "everyXValuesTextField");

    int r = 0;
    grid->addWidget(label(QStringLiteral("label4")), r, 0);
    grid->addWidget(decimalSeparatorBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label17")), r, 0);
    grid->addWidget(startWithBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label5")), r, 0);
    grid->addWidget(outputTerminatorBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label26")), r, 0);
    grid->addWidget(outputTerminatorBox2_, r, 1);
    grid->addWidget(label(QStringLiteral("label27")), r, 2);
    grid->addWidget(everyXValuesTextField_, r, 3);
    grid->addWidget(label(QStringLiteral("label33")), r++, 4);
    grid->addWidget(label(QStringLiteral("label18")), r, 0);
    grid->addWidget(soundComboBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label23")), r, 0);
    grid->addWidget(keyboardTypeBox_, r, 1);
    grid->addWidget(label(QStringLiteral("label34")), r++, 2, 1, 3);
    grid->addWidget(label(QStringLiteral("label12"), kFrame + QStringLiteral("label12.text_2")), r, 0);
    grid->addWidget(delayTextField_, r, 1);
    grid->addWidget(label(QStringLiteral("label35")), r++, 2, 1, 3);
    grid->addWidget(label(QStringLiteral("label37")), r, 0);
    grid->addWidget(keyBackendBox_, r++, 1);
    grid->setColumnStretch(5, 1);
    grid->setRowStretch(r, 1);

    fillCombo<ConfigHelper::DecimalSeparator>(decimalSeparatorBox_);
    fillCombo<ConfigHelper::OutputTerminator>(outputTerminatorBox_);
    fillCombo<ConfigHelper::OutputTerminator>(outputTerminatorBox2_);
    fillCombo<ConfigHelper::StartWith>(startWithBox_);
    fillCombo<ConfigHelper::Sound>(soundComboBox_);
    fillCombo<ConfigHelper::KeyboardType>(keyboardTypeBox_);
    // The keystroke backends of this platform, by their stored names.
    for (const std::string& name : platform::keyBackendNames()) {
        const QString n = QString::fromStdString(name);
        keyBackendBox_->addItem(text(kFrame + QStringLiteral("keyBackendBox.") + n), n);
    }

    connect(keyboardTypeBox_, &QComboBox::currentIndexChanged, this,
            &VororaZeZovFrame2::keyboardTypeBoxItemStateChanged);
    // Highlighted when the chosen way was not available at Start; a new choice clears it.
    connect(keyBackendBox_, &QComboBox::currentIndexChanged, this, [this] {
        keyBackendBox_->setProperty("invalid", false);
        keyBackendBox_->setStyleSheet(QString());
    });
    connect(delayTextField_, &QLineEdit::textChanged, this, &VororaZeZovFrame2::delayTextFieldCaretUpdate);
    followLayout(grid);
    return panel;
}

QWidget* VororaZeZovFrame2::buildSettingsPanel() {
    auto* panel = new QWidget;
    auto* grid = new QGridLayout(panel);
    auto caption = [this](const char* f) {
        return text(kFrame + QString::fromLatin1(f) + QStringLiteral(".text"));
    };
    manualConnectButton_ = new QRadioButton(caption("manualConnectButton"), panel);
    manualConnectButton_->setObjectName(QStringLiteral("manualConnectButton"));
    autoConnectButton_ = new QRadioButton(caption("autoConnectButton"), panel);
    autoConnectButton_->setObjectName(QStringLiteral("autoConnectButton"));
    connectButtonGroup_ = new QButtonGroup(panel);
    connectButtonGroup_->addButton(manualConnectButton_);
    connectButtonGroup_->addButton(autoConnectButton_);
    auto check = [&](QCheckBox*& box, const char* name) {
        box = new QCheckBox(caption(name), panel);
        box->setObjectName(QString::fromLatin1(name));
    };
    check(minimizeToTrayCheckBox_, "minimizeToTrayCheckBox");
    check(notifyWhenMinimizedToTrayCheckBox_, "notifyWhenMinimizedToTrayCheckBox");
    check(checkForUpdatesCheckBox_, "checkForUpdatesCheckBox");
    check(abortAutoStartCheckBox_, "abortAutoStartCheckBox");
    check(reconnectCheckBox_, "reconnectCheckBox");
    importSettingsButton_ = makeButton(panel, "importSettingsButton", caption("importSettingsButton"));
    exportSettingsButton_ = makeButton(panel, "exportSettingsButton", caption("exportSettingsButton"));

    int r = 0;
    grid->addWidget(label(QStringLiteral("label13")), r, 0);
    grid->addWidget(manualConnectButton_, r++, 1);
    grid->addWidget(autoConnectButton_, r++, 1);
    grid->addWidget(abortAutoStartCheckBox_, r++, 1);
    grid->addWidget(reconnectCheckBox_, r++, 1);
    grid->addWidget(label(QStringLiteral("label28")), r, 0);
    grid->addWidget(minimizeToTrayCheckBox_, r++, 1);
    grid->addWidget(notifyWhenMinimizedToTrayCheckBox_, r++, 1);
    auto* updates = new QLabel(text(kFrame + QStringLiteral("label1.text")), panel);
    updates->setObjectName(QStringLiteral("label1"));
    grid->addWidget(updates, r, 0);
    grid->addWidget(checkForUpdatesCheckBox_, r++, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(importSettingsButton_);
    buttons->addWidget(exportSettingsButton_);
    buttons->addStretch(1);
    grid->addLayout(buttons, r++, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(r, 1);

    connect(manualConnectButton_, &QRadioButton::clicked, this,
            &VororaZeZovFrame2::connectButtonActionPerformed);
    connect(autoConnectButton_, &QRadioButton::clicked, this,
            &VororaZeZovFrame2::connectButtonActionPerformed);
    connect(importSettingsButton_, &QPushButton::clicked, this,
            &VororaZeZovFrame2::importSettingsButtonActionPerformed);
    connect(exportSettingsButton_, &QPushButton::clicked, this,
            &VororaZeZovFrame2::exportSettingsButtonActionPerformed);
    return panel;
}

QWidget* VororaZeZovFrame2::buildEventLogPanel() {
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    eventLog_ = new EventLog(panel);
    eventLog_->setObjectName(QStringLiteral("eventLog"));
    layout->addWidget(eventLog_);
    return panel;
}

QWidget* VororaZeZovFrame2::buildAboutPanel() {
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    aboutPane_ = new QTextBrowser(panel);
    aboutPane_->setObjectName(QStringLiteral("aboutPane"));
    aboutPane_->setOpenLinks(false);
    aboutPane_->setOpenExternalLinks(false);
    aboutPane_->setHtml(QStringLiteral("<p>") + versionLine().trimmed().toHtmlEscaped() +
                        QStringLiteral("</p>") + text(kFrame + QStringLiteral("aboutPane.text")));
    layout->addWidget(aboutPane_);
    connect(aboutPane_, &QTextBrowser::anchorClicked, this, &VororaZeZovFrame2::aboutPaneHyperlinkUpdate);
    return panel;
}

void VororaZeZovFrame2::installVerifiers() {
    // Each guards its field: an acceptable text is stored when the field is left; a refused one is
    // reported, the field emptied and the focus and the field's tab brought back.
    config::Config* c = &config_;
    QWidget* processing = panels_[ProcessingTab];
    verifiers_ = {
        new MathOperandTextFieldUpdate(
            mathOperandTextField_, [c](const QString& t) { c->setMathOperand(t); }, tabbedPane_, processing),
        new DecimalTextFieldUpdate(
            decimalTextField_, [c](const QString& t) { c->setDecimalPlaces(t); }, tabbedPane_, processing),
        new EditNumCharactersTextFieldUpdate(
            editNumCharactersTextField_, [c](const QString& t) { c->setEditNumCharacters(t); }, tabbedPane_,
            processing),
        new RemoveCharactersTextFieldUpdate(
            removeCharactersTextField_, [c](const QString& t) { c->setRemoveCharacters(t); }, tabbedPane_,
            processing),
        new EveryXValuesTextFieldUpdate(
            everyXValuesTextField_, [c](const QString& t) { c->setEveryXValues(t); }, tabbedPane_,
            panels_[OutputTab]),
    };
}

FieldVerifier* VororaZeZovFrame2::verifier(const QString& fieldName) const {
    for (FieldVerifier* v : verifiers_)
        if (v->field()->objectName() == fieldName)
            return v;
    return nullptr;
}

void VororaZeZovFrame2::fillPortList() {
    const QSignalBlocker block(portList_);
    portList_->clear();
    for (const QString& p : ports_)
        portList_->addItem(util::FriendlyPortUtil::getFriendlyPortName(p), p);
    // The network ports used lately, and the chosen one when it is a network port not among them.
    QStringList network = recentNetworkPorts_;
    if (Direduva::SerialPortLocal::isNetworkPortName(config_.getPort().toStdString()) &&
        !network.contains(config_.getPort()))
        network.prepend(config_.getPort());
    for (const QString& p : network)
        if (portList_->findData(p) < 0)
            portList_->addItem(p, p);
    const int at = portList_->findData(config_.getPort());
    if (at >= 0)
        portList_->setCurrentIndex(at);
    else if (portList_->count() > 0)
        portList_->setCurrentIndex(0);
}

namespace {
// The widgets of `layout` in reading order: grid cells row by row, left to right; other layouts in
// their own order.
void collectWidgets(QLayout* layout, QList<QWidget*>& out) {
    QList<std::tuple<int, int, QLayoutItem*>> items;
    auto* grid = qobject_cast<QGridLayout*>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        int row = 0, col = i, rowSpan = 1, colSpan = 1;
        if (grid)
            grid->getItemPosition(i, &row, &col, &rowSpan, &colSpan);
        items.append({row, col, layout->itemAt(i)});
    }
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    for (const auto& [row, col, item] : items) {
        if (QWidget* w = item->widget())
            out.append(w);
        else if (QLayout* inner = item->layout())
            collectWidgets(inner, out);
    }
}

bool takesFocus(const QWidget* w) {
    return !qobject_cast<const QLabel*>(w) && (w->focusPolicy() & Qt::TabFocus);
}
} // namespace

void VororaZeZovFrame2::followLayout(QLayout* layout) {
    QList<QWidget*> widgets;
    collectWidgets(layout, widgets);
    // The Tab key follows the layout.
    QWidget* previous = nullptr;
    for (QWidget* w : widgets) {
        if (!takesFocus(w))
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
    // Each label names the field after it (its Alt letter comes from assignMnemonics).
    for (qsizetype i = 0; i + 1 < widgets.size(); ++i) {
        auto* l = qobject_cast<QLabel*>(widgets[i]);
        if (!l || l->buddy() || l->textFormat() == Qt::RichText || !takesFocus(widgets[i + 1]))
            continue;
        l->setBuddy(widgets[i + 1]);
    }
}

void VororaZeZovFrame2::assignMnemonics() {
    // Alt and a tab's letter selects the tab wherever the focus is: no control uses those letters.
    QString tabLetters;
    for (const auto& tab : kTabs)
        tabLetters += text(QString::fromLatin1(tab.mnemonic)).left(1).toUpper();
    for (int pos = 0; pos < 7; ++pos) {
        QWidget* panel = panels_[pos];
        QString reserved = tabLetters;
        if (pos == StartTab)
            reserved += QStringLiteral("TP"); // Start and Stop
        // What gets a letter, most needed first: the labels of fields without a caption of their own, the
        // captioned controls, the labels of captioned controls; each group in the order it was built.
        QList<QWidget*> items;
        QList<QStringList> candidates;
        const auto add = [&](QWidget* w, const QString& caption) {
            QStringList starts, others;
            for (qsizetype k = 0; k < caption.size(); ++k) {
                const QString c = caption.at(k).toUpper();
                if (!caption.at(k).isLetter() || c.at(0).unicode() >= 128 || reserved.contains(c))
                    continue;
                const bool wordStart = k == 0 || !caption.at(k - 1).isLetter();
                QStringList& list = wordStart ? starts : others;
                if (!starts.contains(c) && !others.contains(c))
                    list << c;
            }
            items << w;
            candidates << starts + others;
        };
        for (QLabel* l : panel->findChildren<QLabel*>())
            if (l->buddy() && !qobject_cast<QAbstractButton*>(l->buddy()) && l->textFormat() != Qt::RichText)
                add(l, l->text());
        for (QAbstractButton* b : panel->findChildren<QAbstractButton*>())
            if (b != startStopJButton_ && !b->text().isEmpty() && !b->text().contains(u'&'))
                add(b, b->text());
        for (QLabel* l : panel->findChildren<QLabel*>())
            if (qobject_cast<QAbstractButton*>(l->buddy()) && l->textFormat() != Qt::RichText)
                add(l, l->text());
        // The most controls with a letter of their own: each takes a free letter of its caption or one
        // that an earlier control can give up for another of its own (word starts preferred).
        QHash<QString, int> owner;
        std::function<bool(int, QSet<QString>&)> take = [&](int item, QSet<QString>& seen) {
            // A free letter first (word starts before the others), so that earlier controls keep theirs.
            for (const QString& c : candidates[item]) {
                if (!owner.contains(c) && !seen.contains(c)) {
                    seen.insert(c);
                    owner[c] = item;
                    return true;
                }
            }
            for (const QString& c : candidates[item]) {
                if (seen.contains(c))
                    continue;
                seen.insert(c);
                if (!owner.contains(c) || take(owner[c], seen)) {
                    owner[c] = item;
                    return true;
                }
            }
            return false;
        };
        for (int i = 0; i < items.size(); ++i) {
            QSet<QString> seen;
            take(i, seen);
        }
        QSet<QWidget*> lettered;
        for (auto it = owner.cbegin(); it != owner.cend(); ++it) {
            QWidget* w = items[it.value()];
            lettered.insert(w);
            if (auto* l = qobject_cast<QLabel*>(w))
                l->setText(withMnemonic(l->text(), it.key().at(0)));
            else if (auto* b = qobject_cast<QAbstractButton*>(w))
                b->setText(withMnemonic(b->text(), it.key().at(0)));
        }
        // A label only lends its letter to a control with a caption of its own: without one it names
        // nothing.
        for (QWidget* w : items)
            if (auto* l = qobject_cast<QLabel*>(w);
                l && !lettered.contains(l) && qobject_cast<QAbstractButton*>(l->buddy()))
                l->setBuddy(nullptr);
    }
}

bool VororaZeZovFrame2::eventFilter(QObject* watched, QEvent* event) {
    // Enter presses the focused button, as Space does.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && button->isEnabled()) {
            button->animateClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void VororaZeZovFrame2::fillFromConfig() {
    // Filling is not editing: no handler runs.
    QList<QObject*> blocked;
    for (QObject* o : findChildren<QObject*>())
        if (!o->signalsBlocked()) {
            o->blockSignals(true);
            blocked.append(o);
        }
    for (const SettingControl& row : settingControls())
        fillSetting(row);
    readingsBox_->showFor(config_);
    for (QObject* o : blocked)
        o->blockSignals(false);
    showCustomRegExMarker();
    showStartSummary();
}

void VororaZeZovFrame2::showStartSummary() {
    const auto instrument = config_.getInstrument().value_or(ConfigHelper::Instrument::getDefault());
    const QString port =
        config_.getPort().isEmpty() ? text(QStringLiteral("start.summary.noPort")) : config_.getPort();
    startSummary_->setText(MessageFormat::format(text(QStringLiteral("start.summary.0.1.2")), port,
                                                 instrument.toPlainString(),
                                                 config_.getOutputTerminator().toString()));
    // Nothing between two values: the target receives 12.34512.349...
    const bool runTogether = config_.getOutputTerminator() == ConfigHelper::OutputTerminator::NONE &&
                             config_.getStartWith() == ConfigHelper::StartWith::NONE;
    startHint_->setText(runTogether ? text(QStringLiteral("start.hint.noTerminator")) : QString());
    startHint_->setVisible(runTogether);
}

// ======================================================================== handlers

void VororaZeZovFrame2::portListItemStateChanged() {
    // Typed text that is not the chosen item's is a port name of its own (a network port).
    const QString typed = portList_->currentText().trimmed();
    const int at = portList_->currentIndex();
    if (!typed.isEmpty() && (at < 0 || portList_->itemText(at) != typed)) {
        const int known = portList_->findText(typed, Qt::MatchExactly);
        if (known >= 0) {
            portList_->setCurrentIndex(known);
        } else {
            const QString name = util::FriendlyPortUtil::getUnfriendlyPortName(typed);
            const std::string bad = Direduva::SerialPortLocal::isNetworkPortName(name.toStdString())
                                        ? Direduva::SerialPortLocal::checkPortName(name.toStdString())
                                        : std::string();
            if (!bad.empty()) {
                statusJLabel_->setText(QString::fromStdString(bad));
                return;
            }
            config_.setPort(name);
            return;
        }
    }
    const QVariant plain = portList_->currentData();
    if (plain.isValid())
        config_.setPort(plain.toString());
    else if (!portList_->currentText().isEmpty())
        config_.setPort(util::FriendlyPortUtil::getUnfriendlyPortName(portList_->currentText()));
}

void VororaZeZovFrame2::instrumentBoxItemStateChanged(int index) {
    const auto chosen = ConfigHelper::Instrument::fromOrdinal(index);
    if (!chosen)
        return;
    const auto before = config_.getInstrument();
    config_.setInstrument(*chosen);
    // The stability options follow the preset; a new preset brings its request command.
    readingsBox_->setInstrument(*chosen, before && *before != *chosen);
    if (before && *before != *chosen && !config_.getCustomRegEx().isEmpty() && !closing()) {
        if (MessageBoxes::confirm(this, text(QStringLiteral("confirm.overwrite.custom.regex")),
                                  text(QStringLiteral("confirm"))))
            config_.setCustomRegEx(QString());
        showCustomRegExMarker();
    }
}

bool VororaZeZovFrame2::acceptInputTerminator(bool showErrors) {
    const QString typed = inputTerminatorBox_->currentText().trimmed();
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
        const QSignalBlocker block(inputTerminatorBox_);
        ConfigHelper::InputTerminator::setSelectedItem(*inputTerminatorBox_, config_.getInputTerminator());
    }
    if (showErrors && !closing()) {
        MessageBoxes::error(this, text(QStringLiteral("terminator.must.be.between.0.and.255")),
                            text(QStringLiteral("error")));
        const int at = tabbedPane_->indexOf(panels_[InputTab]);
        if (at >= 0)
            tabbedPane_->setCurrentIndex(at);
    }
    return false;
}

void VororaZeZovFrame2::inputTerminatorBoxItemStateChanged() {
    // Pressing Enter reports both the choice and the end of editing; the dialog's focus change
    // reports another end of editing: one check at a time.
    if (terminatorCheckRunning_)
        return;
    terminatorCheckRunning_ = true;
    acceptInputTerminator(true);
    terminatorCheckRunning_ = false;
}

void VororaZeZovFrame2::mathOperationBoxItemStateChanged() {
    const auto op = ConfigHelper::MathOperation::fromOrdinal(mathOperationBox_->currentIndex());
    if (!op)
        return;
    config_.setMathOperation(*op);
    if (*op == ConfigHelper::MathOperation::NONE) {
        mathOperandTextField_->clear();
        config_.setMathOperand(QString());
    }
}

void VororaZeZovFrame2::keyboardTypeBoxItemStateChanged() {
    const auto type = ConfigHelper::KeyboardType::fromOrdinal(keyboardTypeBox_->currentIndex());
    if (!type)
        return;
    config_.setKeyboardType(*type);
    // Typing through every layout needs a little time between the keys.
    if (*type == ConfigHelper::KeyboardType::ALL && config_.getDelayAsInt() < 3) {
        MessageBoxes::information(this, text(QStringLiteral("info.delay.keyboard.all")),
                                  text(QStringLiteral("info")));
        delayTextField_->setText(QStringLiteral("3"));
    }
}

bool VororaZeZovFrame2::acceptDelay(const QString& t) {
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

void VororaZeZovFrame2::delayTextFieldCaretUpdate() {
    if (acceptDelay(delayTextField_->text()))
        return;
    MessageBoxes::error(this, text(QStringLiteral("error.intercharacter.delay")),
                        text(QStringLiteral("error")));
    // Changing the field while it reports its own change is not allowed: after this event.
    QTimer::singleShot(0, this, [this] { delayTextField_->setText(QStringLiteral("20")); });
}

void VororaZeZovFrame2::connectButtonActionPerformed() {
    if (autoConnectButton_->isChecked()) {
        config_.setConnect(ConfigHelper::Connect::AUTO);
    } else {
        config_.setConnect(ConfigHelper::Connect::MANUAL);
        removeTrayMinimization();
        trayInstalled_ = false;
    }
}

void VororaZeZovFrame2::defaultButtonActionPerformed() {
    const auto instrument = ConfigHelper::Instrument::fromOrdinal(instrumentBox_->currentIndex());
    if (!instrument)
        return;
    if (const auto message = instrument->getDefaultMessage())
        MessageBoxes::information(this, *message, text(QStringLiteral("defaults.title")));
    // Every preset carries its usual port settings.
    const config::PortDefaults d = instrument->getPortDefaults();
    if (!ConfigHelper::BitRates::valid(d.bitRate)) {
        MessageBoxes::error(this, text(QStringLiteral("no.default.values.available.for.this.device")),
                            text(QStringLiteral("error")));
        return;
    }
    bitRateBox_->setCurrentIndex(d.bitRate);
    dataBitsBox_->setCurrentIndex(d.dataBits);
    stopBitsBox_->setCurrentIndex(d.stopBits);
    parityBox_->setCurrentIndex(d.parity);
    flowControlBox_->setCurrentIndex(d.handshake);
    ConfigHelper::InputTerminator::setSelectedItem(*inputTerminatorBox_, d.inputTerminator);
    config_.setInputTerminator(d.inputTerminator);
}

void VororaZeZovFrame2::refreshPortsButtonActionPerformed() {
    const PortListing listing = listPorts();
    if (listing.libraryMissing) {
        MessageBoxes::error(this, text(QStringLiteral("error.listing.available.ports")) + listing.failure,
                            text(QStringLiteral("error")));
        return;
    }
    if (!listing.failure.isEmpty()) {
        MessageBoxes::error(this, text(QStringLiteral("error.listing.available.ports")) + listing.failure,
                            text(QStringLiteral("error")));
        return;
    }
    ports_ = listing.ports;
    portFromCommandLine_ = false;
    const QString before = config_.getPort();
    fillPortList();
    if (ports_.isEmpty()) {
        MessageBoxes::error(this,
                            text(QStringLiteral("no.rs.232.port.found.on.your.system.program.will.now.exit")),
                            text(QStringLiteral("error")));
        return;
    }
    // The list shows another port when the chosen one is gone: the record follows what is shown.
    if (portList_->currentData().toString() != before)
        portListItemStateChanged();
}

void VororaZeZovFrame2::autoButtonActionPerformed() {
    // The dialog probes the listed ports and selects the port it finds in portList; the record follows
    // the list as after a choice of the user.
    const auto found = AutoPortDialog::run(this, ports_, portList_, options_.detection);
    if (found && portList_->currentIndex() >= 0)
        portListItemStateChanged();
}

void VororaZeZovFrame2::customizeButtonActionPerformed() {
    // The expression is tried on the instrument's samples and on the lines received last.
    CustomRegExDialog::edit(this, config_, lastReceivedLines());
    showCustomRegExMarker();
}

void VororaZeZovFrame2::showCustomRegExMarker() {
    customRegExMarker_->setVisible(!config_.getCustomRegEx().isEmpty());
    customRegExMarker_->setToolTip(config_.getCustomRegEx());
}

void VororaZeZovFrame2::adjustIgnoreButtonActionPerformed() {
    IgnoreDialog::edit(this, config_);
    // The difference also decides when a placement ends.
    readingsBox_->showPlacementRule(config_.getIgnoreDifference());
}

void VororaZeZovFrame2::importSettingsButtonActionPerformed() {
    std::shared_ptr<prefs::AbstractPreferences> node = node_;
    if (!node) {
        try {
            node =
                prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
        } catch (const std::exception& e) {
            MessageBoxes::error(this,
                                text(QStringLiteral("import.failed")) + u'\n' + QString::fromUtf8(e.what()),
                                text(QStringLiteral("error")));
            return;
        }
    }
    if (SettingsTransferDialogs::importSettings(this, *node) !=
        SettingsTransferDialogs::ImportOutcome::ExitRequested)
        return;
    // The next start loads the imported settings; closing normally would save the window's over them.
    exitAfterImport_ = true;
    if (presenter_->isActive())
        presenter_->stop();
    emit exitRequested(SettingsTransferDialogs::EXIT_AFTER_IMPORT);
}

void VororaZeZovFrame2::exportSettingsButtonActionPerformed() {
    // The file holds what the window shows, saved first like a tab change would.
    SettingsTransferDialogs::exportSettings(this, config_, [this] {
        updateConfigFromTabs();
        const QString failure = saveConfig();
        if (failure.isEmpty())
            oldConfig_ = config::Config::copyConfig(config_);
        return failure;
    });
}

void VororaZeZovFrame2::aboutPaneHyperlinkUpdate(const QUrl& url) {
    // In the standard browser, off the user-interface thread; only web addresses are opened, anything
    // else is refused with the "A problem occured" dialog.
    DesktopLinks::openHyperlink(url.toString());
}

// ======================================================================== settings

// The settings shown in the window, each with its control (by object name), in the order the window
// reads them back. A control without its own `fill`/`read` is handled by its kind (fillSetting,
// readSetting); the same name with ".toolTipText" is its tool tip's key.
const std::vector<VororaZeZovFrame2::SettingControl>& VororaZeZovFrame2::settingControls() {
    using W = VororaZeZovFrame2;
    static const std::vector<SettingControl> rows = {
        {.key = "port", .control = "portList", .fill = &W::fillPorts, .read = &W::readPort},
        {.key = "instrument", .control = "instrumentBox", .read = &W::readInstrument},
        {.key = "bitRate", .control = "bitRateBox"},
        {.key = "dataBits", .control = "dataBitsBox"},
        {.key = "stopBits", .control = "stopBitsBox"},
        {.key = "parity", .control = "parityBox"},
        {.key = "handshake", .control = "flowControlBox"},
        {.key = "inputTerminator",
         .control = "inputTerminatorBox",
         .fill = &W::fillInputTerminator,
         .read = &W::readInputTerminator},
        {.key = "inputEncoding", .control = "inputEncodingBox"},
        {.key = "mathOperand", .control = "mathOperandTextField"},
        {.key = "decimalPlaces", .control = "decimalTextField"},
        {.key = "editNumCharacters", .control = "editNumCharactersTextField"},
        {.key = "removeCharacters", .control = "removeCharactersTextField"},
        {.key = "everyXValues", .control = "everyXValuesTextField"},
        {.key = "mathOperation", .control = "mathOperationBox"},
        {.key = "roundingMethod", .control = "roundingMethodBox"},
        {.key = "editOperation", .control = "editOperationComboBox"},
        {.key = "editPosition", .control = "editPositionComboBox"},
        {.key = "ignoreDuplicates", .control = "ignoreDuplicatesCheckBox"},
        {.key = "decimalSeparator", .control = "decimalSeparatorBox"},
        {.key = "outputTerminator", .control = "outputTerminatorBox"},
        {.key = "outputTerminator2", .control = "outputTerminatorBox2"},
        {.key = "startWith", .control = "startWithBox"},
        {.key = "sound", .control = "soundComboBox"},
        {.key = "keyboardType", .control = "keyboardTypeBox"},
        {.key = "keyBackend", .control = "keyBackendBox"},
        {.key = "delay", .control = "delayTextField", .read = &W::readDelay},
        {.key = "connect", .control = "manualConnectButton", .value = "MANUAL"},
        {.key = "connect", .control = "autoConnectButton", .value = "AUTO"},
        {.key = "minimizeToTray", .control = "minimizeToTrayCheckBox"},
        {.key = "notifyWhenMinimizedToTray", .control = "notifyWhenMinimizedToTrayCheckBox"},
        {.key = "checkForUpdates", .control = "checkForUpdatesCheckBox"},
        {.key = "abortAutoStartWhenPrevPortNotAvailable", .control = "abortAutoStartCheckBox"},
        {.key = "reconnect", .control = "reconnectCheckBox"},
        // Stable readings, requests and the data log (ReadingsBox).
        {.key = "typeOnlyStable",
         .control = "typeOnlyStableCheckBox",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "oncePerPlacement",
         .control = "oncePerPlacementCheckBox",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "dataLogMaxBytes",
         .control = "dataLogMaxBytesSpinBox",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "dataLogKeep",
         .control = "dataLogKeepSpinBox",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "requestCommand",
         .control = "requestCommandTextField",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "requestHotkey",
         .control = "requestHotkeyTextField",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "requestEverySeconds",
         .control = "requestEverySecondsTextField",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
        {.key = "dataLogFile",
         .control = "dataLogFileTextField",
         .fill = &W::fillReading,
         .read = &W::readReading,
         .ownToolTip = true},
    };
    return rows;
}

QList<QPair<QString, QString>> VororaZeZovFrame2::settingRows() {
    QList<QPair<QString, QString>> rows;
    for (const SettingControl& row : settingControls())
        rows.append({QString::fromLatin1(row.key), QString::fromLatin1(row.control)});
    return rows;
}

QList<QPair<QString, QString>> VororaZeZovFrame2::settingsOutsideTheTabs() {
    return {{QStringLiteral("customRegEx"), QStringLiteral("customizeButton")},
            {QStringLiteral("ignoreDifference"), QStringLiteral("adjustIgnoreButton")},
            {QStringLiteral("ignoreTimeLimit"), QStringLiteral("adjustIgnoreButton")},
            // The port of the last save, written with every save.
            {QStringLiteral("prevPort"), QString()}};
}

void VororaZeZovFrame2::fillSetting(const SettingControl& row) {
    if (row.fill) {
        (this->*row.fill)(row);
        return;
    }
    const QString stored = config_.getByKey(QString::fromLatin1(row.key));
    QWidget* w = control(QString::fromLatin1(row.control));
    if (auto* box = qobject_cast<QComboBox*>(w)) {
        const int at = box->findData(stored);
        if (at >= 0)
            box->setCurrentIndex(at);
    } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
        field->setText(stored);
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        if (stored == QLatin1String(row.value))
            radio->setChecked(true);
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        check->setChecked(stored == u"true");
    }
}

void VororaZeZovFrame2::readSetting(const SettingControl& row) {
    if (row.read) {
        (this->*row.read)(row);
        return;
    }
    const QString key = QString::fromLatin1(row.key);
    const QString name = QString::fromLatin1(row.control);
    QWidget* w = control(name);
    if (auto* box = qobject_cast<QComboBox*>(w)) {
        if (box->currentIndex() >= 0)
            config_.setByKey(key, box->currentData().toString());
    } else if (auto* field = qobject_cast<QLineEdit*>(w)) {
        // A validated field by its verifier's rule: an acceptable text is stored, a refused one is
        // reported and emptied.
        if (FieldVerifier* v = verifier(name))
            v->shouldYieldFocus(field);
        else
            config_.setByKey(key, field->text());
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        if (radio->isChecked())
            config_.setByKey(key, QString::fromLatin1(row.value));
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        config_.setByKey(key, check->isChecked() ? QStringLiteral("true") : QStringLiteral("false"));
    }
}

void VororaZeZovFrame2::readPort(const SettingControl&) {
    if (portList_->currentIndex() >= 0 || !portList_->currentText().trimmed().isEmpty())
        portListItemStateChanged();
}

void VororaZeZovFrame2::readInstrument(const SettingControl&) {
    // Through setInstrument, and only on a change: its listeners hear of every new choice.
    if (const auto i = ConfigHelper::Instrument::fromOrdinal(instrumentBox_->currentIndex()))
        if (config_.getInstrument() != i)
            config_.setInstrument(*i);
}

void VororaZeZovFrame2::fillInputTerminator(const SettingControl&) {
    ConfigHelper::InputTerminator::setSelectedItem(*inputTerminatorBox_, config_.getInputTerminator());
}

void VororaZeZovFrame2::readInputTerminator(const SettingControl&) {
    acceptInputTerminator(false);
}

void VororaZeZovFrame2::fillReading(const SettingControl& row) {
    readingsBox_->fillSetting(QString::fromLatin1(row.key), config_);
}

void VororaZeZovFrame2::readReading(const SettingControl& row) {
    if (const QString why = readingsBox_->storeSetting(QString::fromLatin1(row.key), config_); !why.isEmpty())
        refused_ << why;
}

void VororaZeZovFrame2::readDelay(const SettingControl&) {
    if (acceptDelay(delayTextField_->text()))
        return;
    if (!closing())
        MessageBoxes::error(this, text(QStringLiteral("error.intercharacter.delay")),
                            text(QStringLiteral("error")));
    delayTextField_->setText(QStringLiteral("20"));
}

void VororaZeZovFrame2::updateConfigFromTabs() {
    if (!instrumentBox_)
        return;
    // In table order; a refused text is reported (not while closing) and the setting keeps its last
    // valid value.
    refused_.clear();
    for (const SettingControl& row : settingControls())
        readSetting(row);
    config::Config& c = config_;
    if (!refused_.isEmpty() && !closing())
        MessageBoxes::error(this, refused_.join(u'\n'), text(QStringLiteral("error")));

    // An operation without operand does nothing: say so in the record and the control.
    if (c.getMathOperation() != ConfigHelper::MathOperation::NONE && c.getMathOperand().isEmpty()) {
        c.setMathOperation(ConfigHelper::MathOperation::NONE);
        const QSignalBlocker block(mathOperationBox_);
        mathOperationBox_->setCurrentIndex(ConfigHelper::MathOperation::NONE.ordinal());
    }
    // A division needs a number of decimal places.
    if (c.getMathOperation() == ConfigHelper::MathOperation::DIVIDE && decimalTextField_->text().isEmpty() &&
        !mathRoundingErrorWarningDisplayed_ && !closing()) {
        mathRoundingErrorWarningDisplayed_ = true;
        QTimer::singleShot(0, this, [this] {
            const int at = tabbedPane_->indexOf(panels_[ProcessingTab]);
            if (at >= 0)
                tabbedPane_->setCurrentIndex(at);
            decimalTextField_->setFocus();
            MessageBoxes::error(
                this,
                text(
                    QStringLiteral("please.enter.number.of.decimal.places.for.rounding.or.disable.division")),
                text(QStringLiteral("error")));
            mathRoundingErrorWarningDisplayed_ = false;
        });
    }
}

bool VororaZeZovFrame2::saveNecessary() {
    if (!config::Config::hasChanged(config_, oldConfig_))
        return false;
    oldConfig_ = config::Config::copyConfig(config_);
    return true;
}

QString VororaZeZovFrame2::saveConfig() {
    try {
        if (!node_)
            node_ =
                prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
        return config_.saveConfig(*node_);
    } catch (const std::exception& e) {
        const QString why = QString::fromUtf8(e.what());
        return why.isEmpty() ? text(QStringLiteral("settings.store.failed")) : why;
    }
}

void VororaZeZovFrame2::autoSaveAfterLeaving() {
    updateConfigFromTabs();
    if (!saveNecessary())
        return;
    const QString failure = saveConfig();
    if (!failure.isEmpty())
        eventLog_->logImportantEvent(text(QStringLiteral("autosave.error")) + failure);
}

void VororaZeZovFrame2::tabbedPaneStateChanged(int index) {
    QWidget* left = currentPanel_;
    currentPanel_ = tabbedPane_->widget(index);
    if (left == panels_[InputTab] || left == panels_[ProcessingTab] || left == panels_[OutputTab] ||
        left == panels_[AboutTab])
        autoSaveAfterLeaving();
    if (currentPanel_ == panels_[StartTab])
        showStartSummary();
}

void VororaZeZovFrame2::closeEvent(QCloseEvent* event) {
    thisWindowClosed();
    event->accept();
}

void VororaZeZovFrame2::thisWindowClosed() {
    setClosing(true);
    if (presenter_->isActive()) {
        // Gone from the screen first: the focus goes back to the target, and the value being typed
        // can finish there.
        hide();
        updateTypingHold();
        presenter_->stop();
    }
    // After a confirmed import the store holds the imported settings: nothing is saved over them.
    if (exitAfterImport_)
        return;
    updateConfigFromTabs();
    const QString failure = saveConfig();
    if (!failure.isEmpty())
        MessageBoxes::error(this,
                            text(QStringLiteral("access.error.while.saving.settings")) + u'\n' + failure,
                            text(QStringLiteral("error")));
    emit closed();
}

// ======================================================================== connection

void VororaZeZovFrame2::startStopJButtonActionPerformed() {
    if (!presenter_->stopOrBusy())
        startConnection();
}

void VororaZeZovFrame2::showTrayStatus(const QString& status) {
    if (trayMinimizer_ && trayMinimizer_->trayIcon())
        trayMinimizer_->trayIcon()->setToolTip(status.isEmpty() ? text(QStringLiteral("tray.idle")) : status);
}

void VororaZeZovFrame2::notifyWhenHidden(const QString& caption, const QString& message) {
    if (isVisible() && !isMinimized())
        return;
    if (trayMinimizer_ && trayMinimizer_->trayIcon() && trayMinimizer_->trayIcon()->isVisible())
        trayMinimizer_->trayIcon()->showMessage(caption, message);
}

void VororaZeZovFrame2::startConnection() {
    // What the tabs show is what the connection uses.
    updateConfigFromTabs();
    // A network port name typed wrong is said, not replaced by the port chosen before.
    const std::string typed =
        util::FriendlyPortUtil::getUnfriendlyPortName(portList_->currentText().trimmed()).toStdString();
    if (Direduva::SerialPortLocal::isNetworkPortName(typed)) {
        const std::string bad = Direduva::SerialPortLocal::checkPortName(typed);
        if (!bad.empty()) {
            MessageBoxes::error(this, QString::fromStdString(bad), text(QStringLiteral("error")));
            return;
        }
    }
    rememberNetworkPort(config_.getPort());
    presenter_->start(config_, hasKeyboardFocus());
}

namespace {
constexpr int kRecentNetworkPorts = 8;
const QString kRecentNetworkPortsKey = QStringLiteral("recentNetworkPorts");
} // namespace

void VororaZeZovFrame2::loadRecentNetworkPorts() {
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

void VororaZeZovFrame2::rememberNetworkPort(const QString& port) {
    if (!Direduva::SerialPortLocal::isNetworkPortName(port.toStdString()))
        return;
    recentNetworkPorts_.removeAll(port);
    recentNetworkPorts_.prepend(port);
    while (recentNetworkPorts_.size() > kRecentNetworkPorts)
        recentNetworkPorts_.removeLast();
    // Shown as an item of the list from now on, chosen.
    if (portList_->findData(port) < 0) {
        const QSignalBlocker block(portList_);
        portList_->addItem(port, port);
        portList_->setCurrentIndex(portList_->count() - 1);
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

bool VororaZeZovFrame2::isConnected() const {
    return presenter_ && presenter_->isConnected();
}

QStringList VororaZeZovFrame2::lastReceivedLines() const {
    return presenter_->lastReceivedLines();
}

void VororaZeZovFrame2::applyConnectingState() {
    startStopJButton_->setText(
        withMnemonic(text(kFrame + QStringLiteral("startStopJButton.textStop")), u'P'));
    // The settings in use are those of the Start.
    for (int pos = InputTab; pos <= SettingsTab; ++pos)
        panels_[pos]->setEnabled(false);
}

void VororaZeZovFrame2::applyConnectedState(bool connected) {
    for (int pos = InputTab; pos <= SettingsTab; ++pos)
        panels_[pos]->setEnabled(true);
    const QString buttonKey = kFrame + (connected ? QStringLiteral("startStopJButton.textStop")
                                                  : QStringLiteral("startStopJButton.text"));
    const QString statusKey = connected ? QStringLiteral("switch.to.target.application")
                                        : kFrame + QStringLiteral("statusJLabel.text");
    bool missing = !bundle_->contains(buttonKey) || !bundle_->contains(statusKey);
    startStopJButton_->setText(withMnemonic(text(buttonKey), connected ? u'P' : u'T'));
    requestButton_->setEnabled(connected && presenter_->canRequest());
    if (connected) {
        for (int pos = SettingsTab; pos >= InputTab; --pos) {
            const int at = tabbedPane_->indexOf(panels_[pos]);
            if (at >= 0)
                tabbedPane_->removeTab(at);
        }
    } else {
        for (int pos = InputTab; pos <= SettingsTab; ++pos) {
            if (tabbedPane_->indexOf(panels_[pos]) >= 0)
                continue;
            const QString titleKey = QString::fromLatin1(kTabs[pos].title);
            const QString mnemonic = text(QString::fromLatin1(kTabs[pos].mnemonic));
            missing = missing || !bundle_->contains(titleKey);
            tabbedPane_->insertTab(
                pos, panels_[pos],
                withMnemonic(text(titleKey), mnemonic.isEmpty() ? QChar() : mnemonic.at(0)));
        }
    }
    if (missing)
        MessageBoxes::error(this, text(QStringLiteral("internal.error")), text(QStringLiteral("error")));
}

void VororaZeZovFrame2::showKeyBackendUnavailable() {
    const int at = tabbedPane_->indexOf(panels_[OutputTab]);
    if (at >= 0)
        tabbedPane_->setCurrentIndex(at);
    keyBackendBox_->setProperty("invalid", true);
    keyBackendBox_->setStyleSheet(QStringLiteral("QComboBox { border: 2px solid #d00000; }"));
    keyBackendBox_->setFocus();
}

void VororaZeZovFrame2::setText(const QString& t) {
    if (QThread::currentThread() == thread())
        statusJLabel_->setText(t);
    else
        util::postQueued(this, [this, t] { statusJLabel_->setText(t); });
}

} // namespace vornal
