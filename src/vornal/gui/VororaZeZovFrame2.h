#pragma once

#include "ConnectionPresenter.h"
#include "InputPanel.h"
#include "TabSupport.h"
#include "dialogs/AutoPortDialog.h"
#include "vornal/config/Config.h"
#include "vornal/config/Profiles.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/util/UpdateWorker.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QTabWidget;
class QTextBrowser;
class QUrl;

namespace vornal::prefs {
class AbstractPreferences;
}
namespace vornal::worker {
class Typist;
}
namespace vornal::publish {
class Publisher;
}

namespace vornal {

class AboutPanel;
class ConnectionPresenter;
class EventLog;
class EventLogPanel;
class OutputPanel;
class ProcessingPanel;
class SettingsPanel;
class StartPanel;
class FieldVerifier;
class SystemTray;
class TrayMinimizer;

// The program's only window: the tabs in their order (each tab a widget of its own with its controls
// and handlers), the status line, the tray and the window's life cycle. It owns the live settings
// record (filled into the tabs and read back through its settings table), saves it when a settings page
// is left and when the window closes; its ConnectionPresenter runs one connection at a time.
class VororaZeZovFrame2 : public QWidget, public util::UpdateWorkerView {
    Q_OBJECT
public:
    using PortListing = vornal::PortListing;

    struct Options {
        // Positional arguments; the first, when present and not empty, is the port to use.
        QStringList args;
        // The preferences file (empty: the program's own store; see PreferencesStore::select).
        QString storeFile;
        // The window's bundle (tests point it elsewhere to check the resource check).
        QString windowBundle = QStringLiteral("vornal.Vornal");
        // How the ports are listed (default: the serial library and the friendly names).
        std::function<PortListing()> listPorts;
        // Where the window icons "Vornal32.png" ... "Vornal16.png" are (the program's resources).
        QString iconFolder = QStringLiteral(":/icons/");
        // Show the window at the end of start-up.
        bool show = true;
        // Run the auto-start at the end of start-up.
        bool autoStart = true;
        // The desktop's notification area (null: the real one; tests pass a fake).
        std::shared_ptr<SystemTray> systemTray;
        // The draw that decides whether this start checks for updates (null: the system's random
        // generator, one start in four).
        util::UpdateWorker::RandomSource updateRandom;
        // The port detection of the auto-detection dialog (null: the real AutoPortWorker; tests pass a
        // fake).
        AutoPortDialog::DetectionFactory detection;
    };

    // Positions of the tabs when all are present.
    enum TabPos { StartTab = 0, InputTab, ProcessingTab, OutputTab, SettingsTab, EventLogTab, AboutTab };

    explicit VororaZeZovFrame2(Options options, QWidget* parent = nullptr);
    ~VororaZeZovFrame2() override;

    // Non-zero when start-up hit a fatal condition: 4 resources missing, 2 driver library missing. The
    // caller ends the process with it; the window is not shown then.
    int fatalExitCode() const { return fatalExitCode_; }

    // The status label (UpdateWorkerView); safe from any thread. The text may be HTML with a link.
    void setText(const QString& text) override;

    // ---- the station's instruments (profiles) ----
    // One instrument's settings under the name the user gave it; the first is the stored record of old.
    using Profile = config::Profile;
    static constexpr int kMaxProfiles = config::Profiles::MAX_PROFILES;
    int profileCount() const { return int(profiles_.size()); }
    QString profileName(int index) const;
    // The instrument the settings tabs show and edit.
    int selectedProfile() const { return selected_; }
    // Shows `index` in the settings tabs (what the tabs hold goes to the instrument shown before).
    void selectProfile(int index);
    // The settings an instrument starts with: its own, and the program-wide ones of the window.
    config::Config profileConfig(int index) const;
    // Adds, renames, removes; the refusal's message (also shown), or an empty text.
    QString addProfile(const QString& name);
    QString renameProfile(int index, const QString& name);
    // Asks first; a running instrument is stopped. False when refused or not confirmed.
    bool removeProfile(int index);
    // Start or stop one instrument, or all.
    void startStopProfile(int index);
    void startAll();
    void stopAll();
    // The presenter of an instrument (nullptr for an unknown index).
    ConnectionPresenter* presenterOf(int index) const;
    // The tray icon's tool tip as it is now.
    QString trayToolTip() const;

    // ---- operations ----
    // Start/Stop of the selected instrument.
    void startStopJButtonActionPerformed();
    void updateConfigFromTabs();
    // True when config differs from oldConfig; oldConfig then becomes a fresh copy.
    bool saveNecessary();
    // Saves config; the failure's message, or an empty text.
    QString saveConfig();
    QStringList getPortList() const;
    bool isConnected() const;
    // The every key the window program looks up, by bundle name.
    static QList<QPair<QString, QStringList>> requiredKeys(const QString& windowBundle);
    static QString versionLine();

    // ---- for tests and the screenshot ----
    config::Config& config() { return config_; }
    const config::Config& oldConfig() const { return oldConfig_; }
    QTabWidget* tabs() const { return tabbedPane_; }
    EventLog* eventLog() const;
    QLabel* statusLabel() const { return statusJLabel_; }
    QPushButton* startStopButton() const;
    QWidget* panel(TabPos pos) const { return panels_[pos]; }
    // The settings each control of the tabs shows, as (settings key, control name), one row each.
    static QList<QPair<QString, QString>> settingRows();
    // The settings no control of the tabs shows, with the button of the dialog that edits them (empty
    // for a setting the window keeps itself).
    static QList<QPair<QString, QString>> settingsOutsideTheTabs();
    // Controls by field name ("inputTerminatorBox", "delayTextField", ...); nullptr for unknown names.
    QWidget* control(const QString& fieldName) const;
    // A closing window keeps quiet: no validation dialogs.
    static bool closing();
    static void setClosing(bool on);

    // The lines received last (raw, as received), oldest first; the custom expression dialog tests its
    // expression on them.
    QStringList lastReceivedLines() const;
    static constexpr int kLastReceivedLines = ConnectionPresenter::kLastReceivedLines;
    // Between the window and the selected instrument's connection (lines, status, start and stop).
    ConnectionPresenter* connectionPresenter() const { return presenter(); }
    // The verifier of a validated field ("mathOperandTextField", ...); nullptr for other names.
    FieldVerifier* verifier(const QString& fieldName) const;
    TrayMinimizer* trayMinimizer() const { return trayMinimizer_; }
    util::UpdateWorker* updateWorker() const { return updateWorker_.get(); }
    QTextBrowser* aboutPane() const;
    // Handlers the tests call as a click would.
    void autoButtonActionPerformed();
    void customizeButtonActionPerformed();
    void adjustIgnoreButtonActionPerformed();
    void importSettingsButtonActionPerformed();
    void exportSettingsButtonActionPerformed();
    void aboutPaneHyperlinkUpdate(const QUrl& url);

signals:
    // The window was closed and the settings saved (or the save failed and that was shown).
    void closed();
    // The program must end now with `code` (4 after an import was confirmed), without the closing
    // handler: the settings are not saved over the imported ones.
    void exitRequested(int code);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Start-up (constructor order).
    bool checkResources();
    bool readPorts();
    void loadSettings();
    void initComponents();
    void addTabs();
    void fillFromConfig();
    // Tool tips of the controls; combo boxes and check boxes store a change at once.
    void connectSettingControls();

    // One setting (its key in the settings record) and the control that shows it (its object name).
    // Without `fill`/`read` the control's kind decides: a combo box finds the stored form among its
    // item data, a text field holds the text (read through its verifier when it has one), a check box
    // is "true"/"false", a radio button stands for the stored form `value`. A control with
    // `ownToolTip` brings its tool tip itself (no ".toolTipText" key of the window).
    struct SettingControl {
        const char* key;
        const char* control;
        const char* value = nullptr;
        void (VororaZeZovFrame2::*fill)(const SettingControl&) = nullptr;
        void (VororaZeZovFrame2::*read)(const SettingControl&) = nullptr;
        bool ownToolTip = false;
    };
    static const std::vector<SettingControl>& settingControls();
    void fillSetting(const SettingControl& row);
    void readSetting(const SettingControl& row);
    void fillPorts(const SettingControl&);
    void readPort(const SettingControl&);
    void readInstrument(const SettingControl&);
    void fillInputTerminator(const SettingControl&);
    void readInputTerminator(const SettingControl&);
    void readDelay(const SettingControl&);
    void fillReading(const SettingControl& row);
    void readReading(const SettingControl& row);
    void fillBroker(const SettingControl& row);
    void readBroker(const SettingControl& row);
    void loadIcons();
    void autoStart();
    // The occasional update check and tray minimisation.
    void startUpdateCheck();
    bool installTrayMinimization();
    void removeTrayMinimization();

    // Texts.
    QString text(const QString& key) const;
    QString tip(const QString& field) const;
    // Gives every label of a field and every captioned control an Alt letter of its caption, unique on
    // its tab and different from the tabs' letters, as far as the captions allow.
    void assignMnemonics();

    // The instruments.
    ConnectionPresenter* presenter() const { return presenters_.at(size_t(selected_)); }
    ConnectionPresenter* makePresenter();
    // The station's one broker publisher for a start with `config` (its program-wide broker settings and
    // the topic levels of every instrument): kept while they stay the same, else made anew and handed to
    // every presenter. Null without a broker, or when it cannot be used (the log says why).
    publish::Publisher* stationPublisher(const config::Config& config);
    // The tabs' record goes to the selected instrument.
    void storeSelected();
    // The list on the Start tab, the presenters' names, the tab titles.
    void showStation();
    void showProfileRow(ConnectionPresenter* p);
    void showTabTitles();
    QString tabTitle(int pos) const;
    // The selected instrument's state in the Start button and the tabs.
    void showSelectedState();
    // Why another instrument cannot have `port` (empty: it can).
    QString portRefused(int index, const QString& port) const;
    QString checkProfileName(int index, const QString& name) const;
    // Every instrument as a save stores it: the selected one as the tabs hold it, the program-wide
    // settings of the tabs in all.
    std::vector<Profile> station() const;
    void askAddProfile();
    void askRenameProfile(int index);

    // Connection.
    void startConnection(int index);
    void notifyWhenHidden(const QString& caption, const QString& message);
    // The tray icon's tool tip: the program's name, or what the connection waits for; at a station of
    // several, how many are connected.
    void showTrayStatus();
    void applyConnectingState();
    void applyConnectedState(bool connected);
    // This window (or one of its dialogs) has the keyboard focus: typing is held.
    bool hasKeyboardFocus() const;
    void updateTypingHold();

    void tabbedPaneStateChanged(int index);
    void thisWindowClosed();
    PortListing listPorts();
    void installVerifiers();
    void autoSaveAfterLeaving();

    Options options_;
    const util::ResourceBundle* bundle_ = nullptr;
    config::Config config_;
    config::Config oldConfig_;
    // The ports found at start-up (the Input tab keeps the list from then on).
    QStringList ports_;
    bool portFromCommandLine_ = false;
    int fatalExitCode_ = 0;
    std::shared_ptr<prefs::AbstractPreferences> node_;

    // The station's instruments (settings), the one the tabs show, and one presenter each (reading,
    // typing, sound, duplicate filter, and what it shows).
    std::vector<Profile> profiles_;
    int selected_ = 0;
    std::vector<ConnectionPresenter*> presenters_;
    // The one typing turn of the station: values of all instruments are typed whole, one after another.
    std::shared_ptr<worker::Typist> typist_;
    // The one broker publisher of the station, and the settings it was made with.
    std::unique_ptr<publish::Publisher> publisher_;
    QString publisherKey_;
    // Instruments added, renamed, removed or edited since the last save.
    bool stationChanged_ = false;
    // What the tray icon's tool tip says now, and the icon it was said to.
    QString shownTrayTip_;
    const void* shownTrayIcon_ = nullptr;
    bool mathRoundingErrorWarningDisplayed_ = false;
    bool trayInstalled_ = false;
    // After a confirmed import: the window must not save its settings over the imported ones.
    bool exitAfterImport_ = false;
    // What the last reading of the tabs refused (shown together in one message).
    QStringList refused_;
    TrayMinimizer* trayMinimizer_ = nullptr;
    std::unique_ptr<util::UpdateWorker> updateWorker_;
    QList<FieldVerifier*> verifiers_;

    // The tabs, in tab order, and the status line.
    std::optional<TabTexts> texts_;
    QTabWidget* tabbedPane_ = nullptr;
    QWidget* panels_[7] = {};
    QWidget* currentPanel_ = nullptr;
    StartPanel* start_ = nullptr;
    InputPanel* input_ = nullptr;
    ProcessingPanel* processing_ = nullptr;
    OutputPanel* output_ = nullptr;
    SettingsPanel* settings_ = nullptr;
    EventLogPanel* eventLogPanel_ = nullptr;
    AboutPanel* about_ = nullptr;
    QLabel* statusJLabel_ = nullptr;
};

} // namespace vornal
