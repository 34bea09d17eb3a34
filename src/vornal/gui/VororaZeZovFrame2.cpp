#include "VororaZeZovFrame2.h"

#include "BrokerBox.h"
#include "EventLog.h"
#include "InfoPanels.h"
#include "MessageBoxes.h"
#include "OutputPanel.h"
#include "ProcessingPanel.h"
#include "ReadingsBox.h"
#include "SettingsPanel.h"
#include "StartPanel.h"
#include "WindowKeys.h"
#include "dialogs/FieldVerifiers.h"
#include "dialogs/OpenHyperlinkInBrowser.h"
#include "dialogs/TrayMinimizer.h"

#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/prefs/PreferencesStore.h"
#include "vornal/publish/Publisher.h"
#include "vornal/util/FriendlyPortUtil.h"
#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTextBrowser>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <functional>
#include <iostream>

namespace vornal {

using config::ConfigHelper;
using util::MessageFormat;
using windowkeys::kButtonToolTips;
using windowkeys::kTabs;

namespace {

// The prefix of the window's keys, written out: a copy of TabTexts::kFrame might be made before it is set.
const QString kFrame = QStringLiteral("VororaZeZovFrame2.");
std::atomic<bool> closingFlag{false};

QString prop(const char* name) {
    return QString::fromStdString(Direduva::ProcessProperties::get(name).value_or(std::string()));
}

} // namespace

bool VororaZeZovFrame2::closing() {
    return closingFlag;
}

void VororaZeZovFrame2::setClosing(bool on) {
    closingFlag = on;
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
    texts_.emplace(*bundle_);
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
    if (portFromCommandLine_)
        config_.setPort(ports_.first());
    // What was loaded is what is stored: no save until something changes.
    oldConfig_ = config_;
    if (profiles_.empty())
        profiles_.push_back({config::Profiles::defaultName(0), config_});
    profiles_.front().config = config_;
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
    for (QObject* child : findChildren<QObject*>()) {
        QObject::disconnect(child, nullptr, this, nullptr);
        for (QWidget* panel : panels_)
            if (panel)
                QObject::disconnect(child, nullptr, panel, nullptr);
    }
    // Ends the reading and the typing.
    for (ConnectionPresenter* p : presenters_)
        delete p;
    presenters_.clear();
    // What the broker has not taken by then stays queued on disk for the next start.
    if (publisher_) {
        publisher_->disconnect(this);
        publisher_->stop(1000);
    }
}

QString VororaZeZovFrame2::text(const QString& key) const {
    return bundle_->getString(key);
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
    return worker::listPorts(true);
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
        const auto root = prefs::PreferencesStore::userRoot();
        node_ = root->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
        // Every instrument of the station; the tabs show the first.
        auto result = config::Profiles::load(*root, ports_);
        profiles_ = std::move(result.profiles);
        config_ = profiles_.front().config;
        if (!result.valid)
            MessageBoxes::error(
                nullptr, text(QStringLiteral("invalid.setting.found")) + u'\n' + result.messages.join(u'\n'),
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
        profiles_ = {{config::Profiles::defaultName(0), config_}};
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
    // Each instrument whose settings ask for it.
    bool started = false;
    for (int i = 0; i < profileCount(); ++i) {
        const config::Config c = profileConfig(i);
        if (c.getConnect() != ConfigHelper::Connect::AUTO)
            continue;
        if (c.abortAutoStartWhenPrevPortNotAvailable && !(portFromCommandLine_ && i == 0) &&
            c.getPort() != c.getPrevPort()) {
            MessageBoxes::error(
                this,
                MessageFormat::format(
                    text(QStringLiteral("previously.used.port.0.no.longer.available.naborting.auto.start")),
                    c.getPrevPort()),
                text(QStringLiteral("error")));
            continue;
        }
        startConnection(i);
        started = true;
    }
    // Iconifying sends the window to the tray; without a tray it stays in view.
    if (started && config_.minimizeToTray && trayInstalled_)
        showMinimized();
}

// ======================================================================== the tabs

QWidget* VororaZeZovFrame2::control(const QString& fieldName) const {
    if (fieldName.isEmpty())
        return nullptr;
    return findChild<QWidget*>(fieldName);
}

void VororaZeZovFrame2::initComponents() {
    setWindowTitle(text(QStringLiteral("window.title")));
    setObjectName(QStringLiteral("VororaZeZovFrame2"));
    auto* root = new QVBoxLayout(this);
    tabbedPane_ = new QTabWidget(this);
    statusJLabel_ = new QLabel(this);
    tabbedPane_->setObjectName(QStringLiteral("tabbedPane"));
    const TabTexts& texts = *texts_;
    panels_[StartTab] = start_ = new StartPanel(texts);
    InputPanel::Services input;
    input.listPorts = [this] { return listPorts(); };
    input.detection = options_.detection;
    input.lastReceivedLines = [this] { return lastReceivedLines(); };
    input.instrumentChosen = [this](const ConfigHelper::Instrument& chosen, bool changed) {
        // The stability options follow the preset; a new preset brings its request command.
        processing_->readingsBox->setInstrument(chosen, changed);
    };
    input.closing = &VororaZeZovFrame2::closing;
    input.portRefused = [this](const QString& port) { return portRefused(selected_, port); };
    panels_[InputTab] = input_ = new InputPanel(texts, config_, std::move(input));
    input_->setPorts(ports_);
    input_->loadRecentNetworkPorts(node_);
    panels_[ProcessingTab] = processing_ = new ProcessingPanel(texts, config_);
    panels_[OutputTab] = output_ = new OutputPanel(texts, config_);
    panels_[SettingsTab] = settings_ = new SettingsPanel(texts, config_);
    panels_[EventLogTab] = eventLogPanel_ = new EventLogPanel;
    panels_[AboutTab] = about_ = new AboutPanel(texts, versionLine());
    connect(start_->startStopButton(), &QPushButton::clicked, this,
            &VororaZeZovFrame2::startStopJButtonActionPerformed);
    connect(start_->requestButton(), &QPushButton::clicked, this, [this] { presenter()->request(); });
    connect(input_, &InputPanel::statusMessage, statusJLabel_, &QLabel::setText);
    connect(input_, &InputPanel::portsRefreshed, this, [this] { portFromCommandLine_ = false; });
    connect(settings_, &SettingsPanel::manualConnectChosen, this, [this] {
        removeTrayMinimization();
        trayInstalled_ = false;
    });
    connect(settings_, &SettingsPanel::importRequested, this,
            &VororaZeZovFrame2::importSettingsButtonActionPerformed);
    connect(settings_, &SettingsPanel::exportRequested, this,
            &VororaZeZovFrame2::exportSettingsButtonActionPerformed);
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
    for (size_t i = 0; i < profiles_.size(); ++i)
        presenters_.push_back(makePresenter());
    presenter()->showStatusIdle();
    connect(start_, &StartPanel::profileSelected, this, &VororaZeZovFrame2::selectProfile);
    connect(start_, &StartPanel::addRequested, this, &VororaZeZovFrame2::askAddProfile);
    connect(start_, &StartPanel::renameRequested, this, &VororaZeZovFrame2::askRenameProfile);
    connect(start_, &StartPanel::removeRequested, this, &VororaZeZovFrame2::removeProfile);
    connect(start_, &StartPanel::startStopRequested, this, &VororaZeZovFrame2::startStopProfile);
    connect(start_, &StartPanel::startAllRequested, this, &VororaZeZovFrame2::startAll);
    connect(start_, &StartPanel::stopAllRequested, this, &VororaZeZovFrame2::stopAll);
    showStation();

    connectSettingControls();
    fillFromConfig();
    // The keyboard starts on the Start button.
    start_->startStopButton()->setFocus();

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
    const bool held = hasKeyboardFocus();
    for (ConnectionPresenter* p : presenters_)
        p->setTypingHeld(held);
}

void VororaZeZovFrame2::addTabs() {
    for (int i = 0; i < 7; ++i) {
        const QString title = text(QString::fromLatin1(kTabs[i].title));
        const QString mnemonic = text(QString::fromLatin1(kTabs[i].mnemonic));
        const QChar m = mnemonic.isEmpty() ? QChar() : mnemonic.at(0);
        tabbedPane_->insertTab(i, panels_[i], tabTitle(i));
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

void VororaZeZovFrame2::assignMnemonics() {
    // Alt and a tab's letter selects the tab wherever the focus is: no control uses those letters.
    QString tabLetters;
    for (const auto& tab : kTabs)
        tabLetters += text(QString::fromLatin1(tab.mnemonic)).left(1).toUpper();
    for (int pos = 0; pos < 7; ++pos)
        // On the Start tab, T and P are Start and Stop.
        vornal::assignMnemonics(panels_[pos],
                                pos == StartTab ? tabLetters + QStringLiteral("TP") : tabLetters,
                                startStopButton());
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

// ======================================================================== handlers

void VororaZeZovFrame2::tabbedPaneStateChanged(int index) {
    QWidget* left = currentPanel_;
    currentPanel_ = tabbedPane_->widget(index);
    if (left == panels_[InputTab] || left == panels_[ProcessingTab] || left == panels_[OutputTab] ||
        left == panels_[AboutTab])
        autoSaveAfterLeaving();
    if (currentPanel_ == panels_[StartTab])
        start_->showSummary(config_);
}

void VororaZeZovFrame2::closeEvent(QCloseEvent* event) {
    thisWindowClosed();
    event->accept();
}

void VororaZeZovFrame2::thisWindowClosed() {
    setClosing(true);
    if (std::any_of(presenters_.begin(), presenters_.end(), [](auto* p) { return p->isActive(); })) {
        // Gone from the screen first: the focus goes back to the target, and the value being typed
        // can finish there.
        hide();
        updateTypingHold();
        for (ConnectionPresenter* p : presenters_)
            if (p->isActive())
                p->stop();
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

void VororaZeZovFrame2::autoButtonActionPerformed() {
    input_->autoButtonActionPerformed();
}

void VororaZeZovFrame2::customizeButtonActionPerformed() {
    input_->customizeButtonActionPerformed();
}

void VororaZeZovFrame2::adjustIgnoreButtonActionPerformed() {
    processing_->adjustIgnoreButtonActionPerformed();
}

void VororaZeZovFrame2::aboutPaneHyperlinkUpdate(const QUrl& url) {
    AboutPanel::aboutPaneHyperlinkUpdate(url);
}

QStringList VororaZeZovFrame2::getPortList() const {
    return input_ ? input_->ports() : ports_;
}

EventLog* VororaZeZovFrame2::eventLog() const {
    return eventLogPanel_ ? eventLogPanel_->eventLog() : nullptr;
}

QPushButton* VororaZeZovFrame2::startStopButton() const {
    return start_ ? start_->startStopButton() : nullptr;
}

QTextBrowser* VororaZeZovFrame2::aboutPane() const {
    return about_ ? about_->aboutPane() : nullptr;
}

// ======================================================================== connection

void VororaZeZovFrame2::startStopJButtonActionPerformed() {
    startStopProfile(selected_);
}

QString VororaZeZovFrame2::trayToolTip() const {
    if (presenters_.size() == 1) {
        const QString status = presenters_.front()->trayText();
        return status.isEmpty() ? text(QStringLiteral("tray.idle")) : status;
    }
    // "2 of 3 instruments connected", then what any of them waits for.
    int connected = 0;
    QStringList lines;
    for (size_t i = 0; i < presenters_.size(); ++i) {
        if (presenters_[i]->state() == ConnectionPresenter::State::Connected)
            ++connected;
        if (!presenters_[i]->trayText().isEmpty())
            lines << profiles_[i].name + QStringLiteral(": ") + presenters_[i]->trayText();
    }
    lines.prepend(
        MessageFormat::format(text(QStringLiteral("tray.station.0.1")), connected, int(presenters_.size())));
    return lines.join(u'\n');
}

void VororaZeZovFrame2::showTrayStatus() {
    // Asked at every line of every instrument: the icon hears only of a change.
    if (!trayMinimizer_ || !trayMinimizer_->trayIcon())
        return;
    const QString tip = trayToolTip();
    if (tip == shownTrayTip_ && trayMinimizer_->trayIcon() == shownTrayIcon_)
        return;
    shownTrayTip_ = tip;
    shownTrayIcon_ = trayMinimizer_->trayIcon();
    trayMinimizer_->trayIcon()->setToolTip(tip);
}

void VororaZeZovFrame2::notifyWhenHidden(const QString& caption, const QString& message) {
    if (isVisible() && !isMinimized())
        return;
    if (trayMinimizer_ && trayMinimizer_->trayIcon() && trayMinimizer_->trayIcon()->isVisible())
        trayMinimizer_->trayIcon()->showMessage(caption, message);
}

void VororaZeZovFrame2::startConnection(int index) {
    if (index == selected_) {
        // What the tabs show is what the connection uses.
        updateConfigFromTabs();
        // A network port name typed wrong is said, not replaced by the port chosen before.
        const std::string typed =
            util::FriendlyPortUtil::getUnfriendlyPortName(input_->portList->currentText().trimmed())
                .toStdString();
        if (Direduva::SerialPortLocal::isNetworkPortName(typed)) {
            const std::string bad = Direduva::SerialPortLocal::checkPortName(typed);
            if (!bad.empty()) {
                MessageBoxes::error(this, QString::fromStdString(bad), text(QStringLiteral("error")));
                return;
            }
        }
        storeSelected();
    } else if (!panels_[InputTab] || panels_[InputTab]->isEnabled()) {
        // The program-wide settings (the typing way, the broker) as the tabs show them now, whichever
        // instrument they show.
        updateConfigFromTabs();
        storeSelected();
    }
    const config::Config config = profileConfig(index);
    // Two instruments never share a port (a stored file may say otherwise).
    if (const QString refused = portRefused(index, config.getPort()); !refused.isEmpty()) {
        MessageBoxes::error(this, refused, text(QStringLiteral("error")));
        return;
    }
    input_->rememberNetworkPort(config.getPort());
    ConnectionPresenter* p = presenters_[size_t(index)];
    p->setConnectionName(profiles_.size() > 1 ? profiles_[size_t(index)].name : QString());
    p->start(config, hasKeyboardFocus());
    showProfileRow(p);
}

bool VororaZeZovFrame2::isConnected() const {
    return !presenters_.empty() && presenter()->isConnected();
}

QStringList VororaZeZovFrame2::lastReceivedLines() const {
    return presenter()->lastReceivedLines();
}

void VororaZeZovFrame2::applyConnectingState() {
    startStopButton()->setText(
        TabTexts::withMnemonic(text(kFrame + QStringLiteral("startStopJButton.textStop")), u'P'));
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
    startStopButton()->setText(TabTexts::withMnemonic(text(buttonKey), connected ? u'P' : u'T'));
    start_->requestButton()->setEnabled(connected && presenter()->canRequest());
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
            missing = missing || !bundle_->contains(titleKey);
            tabbedPane_->insertTab(pos, panels_[pos], tabTitle(pos));
        }
    }
    if (missing)
        MessageBoxes::error(this, text(QStringLiteral("internal.error")), text(QStringLiteral("error")));
}

void VororaZeZovFrame2::setText(const QString& t) {
    if (QThread::currentThread() == thread())
        statusJLabel_->setText(t);
    else
        util::postQueued(this, [this, t] { statusJLabel_->setText(t); });
}

} // namespace vornal
