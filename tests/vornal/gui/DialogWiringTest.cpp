// The window's dialogs, validated fields, tray, update check and links, driven through the dialog seam
// (message boxes recorded, modal dialogs answered from a zero timer, file dialogs replaced).
#include "GuiTestMain.h"

#include "EventLog.h"
#include "dialogs/AutoPortDialog.h"
#include "dialogs/CustomRegExDialog.h"
#include "dialogs/DialogTexts.h"
#include "dialogs/FieldVerifiers.h"
#include "dialogs/IgnoreDialog.h"
#include "dialogs/SettingsTransferDialogs.h"
#include "dialogs/TrayMinimizer.h"
#include "vornal/util/FriendlyPortUtil.h"
#include "vornal/util/Links.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>

#include <atomic>
#include <mutex>

namespace vornal::test {
namespace {

using config::ConfigHelper;

// Runs `act` on the modal dialog of type D once it is open.
template <class D> void whenOpen(std::function<void(D*)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

// The dialogs recorded until `count` have come (they may arrive from a posted task).
QList<MessageBoxes::Record> waitForRecordsOf(int count) {
    QList<MessageBoxes::Record> all;
    [[maybe_unused]] const bool enough = QTest::qWaitFor(
        [&] {
            all += MessageBoxes::takeRecords();
            return all.size() >= count;
        },
        5000);
    return all;
}

struct FakeIcon : TrayIcon {
    bool visible = false;
    QStringList balloons;
    QString toolTip;
    void setIcon(const QIcon&) override {}
    void setToolTip(const QString& t) override { toolTip = t; }
    void show() override { visible = true; }
    void hide() override { visible = false; }
    bool isVisible() const override { return visible; }
    void showMessage(const QString& caption, const QString& text) override {
        balloons << caption + u'|' + text;
    }
};

struct FakeTray : SystemTray {
    FakeIcon* last = nullptr;
    bool isSystemTrayAvailable() const override { return true; }
    int iconHeight() const override { return 22; }
    std::unique_ptr<TrayIcon> createTrayIcon() override {
        auto icon = std::make_unique<FakeIcon>();
        last = icon.get();
        return icon;
    }
};

// A detection that proposes one port at once.
struct FoundDetection : AutoPortDialog::Detection {
    worker::AutoPortWorkerView* view;
    QString port;
    bool done = false;
    FoundDetection(worker::AutoPortWorkerView* v, QString p) : view(v), port(std::move(p)) {}
    void execute() override {
        view->setButtonToCancel();
        view->setPort(port);
        view->setButtonToClose();
        done = true;
    }
    void cancel() override {}
    bool isDone() const override { return done; }
};

class DialogWiringTest : public WindowFixture {
protected:
    void TearDown() override {
        SettingsTransferDialogs::setFileChooser(nullptr);
        util::OpenHyperlinkInBrowser::setBrowserOpener(nullptr);
        WindowFixture::TearDown();
    }
    QLineEdit* field(const char* name) { return window_->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    int tabOf(VororaZeZovFrame2::TabPos pos) { return window_->tabs()->indexOf(window_->panel(pos)); }
    // Types `text` into the field and leaves it; the dialogs shown.
    QList<MessageBoxes::Record> leave(const char* name, const QString& text) {
        QLineEdit* f = field(name);
        f->setText(text);
        window_->verifier(QString::fromLatin1(name))->shouldYieldFocus(f);
        return dialogs();
    }
};

TEST_F(DialogWiringTest, ValidatedFieldsRefuseEmptyAndBringTheirTabBack) {
    auto& w = open();
    dialogs();
    const struct {
        const char* field;
        const char* refused;
        const char* accepted;
        const char* stored;
        const char* message;
        VororaZeZovFrame2::TabPos tab;
    } cases[] = {
        {"mathOperandTextField", "0", "0,5", "0.5", "error.math.operand", VororaZeZovFrame2::ProcessingTab},
        {"decimalTextField", "8", "7", "7", "error.decimal.places", VororaZeZovFrame2::ProcessingTab},
        {"editNumCharactersTextField", "0", "99", "99", "error.edit.numCharacters",
         VororaZeZovFrame2::ProcessingTab},
        {"everyXValuesTextField", "1", "2", "2", "error.edit.everyXValues", VororaZeZovFrame2::OutputTab},
        {"removeCharactersTextField", "ab\u0100", "ab", "ab", "error.edit.removeCharacters",
         VororaZeZovFrame2::ProcessingTab},
    };
    auto stored = [&w](const char* name) {
        const config::Config& c = w.config();
        const QString n = QString::fromLatin1(name);
        if (n == u"mathOperandTextField")
            return c.getMathOperand();
        if (n == u"decimalTextField")
            return c.getDecimalPlaces();
        if (n == u"editNumCharactersTextField")
            return c.getEditNumCharacters();
        if (n == u"everyXValuesTextField")
            return c.getEveryXValues();
        return c.getRemoveCharacters();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        auto records = leave(c.field, QString::fromUtf8(c.accepted));
        EXPECT_TRUE(records.isEmpty());
        EXPECT_EQ(stored(c.field), QString::fromLatin1(c.stored));
        EXPECT_EQ(field(c.field)->text(), QString::fromLatin1(c.stored));

        // Refused: message, emptied field, setting unchanged, the field's tab selected again.
        w.tabs()->setCurrentIndex(tabOf(VororaZeZovFrame2::EventLogTab));
        records = leave(c.field, QString::fromUtf8(c.refused));
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(records[0].text, tr(c.message));
        EXPECT_EQ(records[0].title, tr("error"));
        EXPECT_TRUE(field(c.field)->text().isEmpty());
        EXPECT_EQ(stored(c.field), QString::fromLatin1(c.stored));
        QCoreApplication::processEvents();
        EXPECT_EQ(w.tabs()->currentIndex(), tabOf(c.tab));
        dialogs();
    }
}

TEST_F(DialogWiringTest, LeavingTheTabWithARefusedFieldBringsItBack) {
    auto& w = open();
    QApplication::setActiveWindow(&w);
    w.tabs()->setCurrentIndex(tabOf(VororaZeZovFrame2::ProcessingTab));
    QLineEdit* decimals = field("decimalTextField");
    decimals->setFocus();
    QCoreApplication::processEvents();
    ASSERT_TRUE(decimals->hasFocus());
    decimals->setText(QStringLiteral("8"));
    dialogs();
    // The page goes out of view and the field loses the focus: refused once, the tab comes back.
    w.tabs()->setCurrentIndex(tabOf(VororaZeZovFrame2::OutputTab));
    QCoreApplication::processEvents();
    const auto records = dialogs();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].text, tr("error.decimal.places"));
    EXPECT_TRUE(decimals->text().isEmpty());
    EXPECT_EQ(w.tabs()->currentIndex(), tabOf(VororaZeZovFrame2::ProcessingTab));
    EXPECT_NE(w.config().getDecimalPlaces(), QStringLiteral("8"));
}

TEST_F(DialogWiringTest, UpdateConfigFromTabsChecksFieldsAndKeepsItsOwnRules) {
    auto& w = open();
    dialogs();
    // A refused decimal-places text in the field: reported once, the record keeps its value.
    w.config().setDecimalPlaces(QStringLiteral("2"));
    field("decimalTextField")->setText(QStringLiteral("9"));
    // An operation without operand is switched off, as before.
    auto* op = w.findChild<QComboBox*>(QStringLiteral("mathOperationBox"));
    op->setCurrentIndex(ConfigHelper::MathOperation::MULTIPLY.ordinal());
    field("mathOperandTextField")->clear();
    w.updateConfigFromTabs();
    const auto records = dialogs();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].text, tr("error.decimal.places"));
    EXPECT_EQ(w.config().getDecimalPlaces(), QStringLiteral("2"));
    EXPECT_EQ(w.config().getMathOperation(), ConfigHelper::MathOperation::NONE);
    EXPECT_EQ(op->currentIndex(), ConfigHelper::MathOperation::NONE.ordinal());

    // While the window closes a refused text is emptied silently and the empty field is saved.
    field("everyXValuesTextField")->setText(QStringLiteral("100"));
    closeWindow();
    EXPECT_TRUE(dialogs().isEmpty());
    EXPECT_TRUE(field("everyXValuesTextField")->text().isEmpty());
}

TEST_F(DialogWiringTest, CustomizeOpensTheExpressionDialogWithPresetAndReceivedLines) {
    auto& w = open();
    const auto instrument = ConfigHelper::Instrument::getDefault();
    w.config().setInstrument(instrument);
    w.config().setCustomRegEx(QString());
    const worker::DataLine line(QStringLiteral("ST,GS,+  77.125 kg\r\n"), QStringLiteral("77.125"), 1,
                                worker::DataLine::now(), false);
    w.connectionPresenter()->showLine(line, line);
    ASSERT_EQ(w.lastReceivedLines(), QStringList{QStringLiteral("ST,GS,+  77.125 kg\r\n")});
    QString shownPattern, testText;
    whenOpen<CustomRegExDialog>([&](CustomRegExDialog* d) {
        shownPattern = d->regExTextArea()->toPlainText();
        testText = d->testArea()->toPlainText();
        d->okButtonActionPerformed(); // unchanged preset
    });
    w.customizeButtonActionPerformed();
    EXPECT_EQ(shownPattern, instrument.getPattern());
    EXPECT_TRUE(testText.contains(QStringLiteral("77.125"))) << testText.toStdString();
    EXPECT_TRUE(w.config().getCustomRegEx().isEmpty()) << "the preset's own expression is no custom one";
    QWidget* marker = w.control(QStringLiteral("customRegExMarker"));
    ASSERT_NE(marker, nullptr);
    EXPECT_TRUE(marker->isHidden());

    whenOpen<CustomRegExDialog>([](CustomRegExDialog* d) {
        d->regExTextArea()->setPlainText(QStringLiteral("([0-9]+)"));
        d->okButtonActionPerformed();
    });
    w.customizeButtonActionPerformed();
    EXPECT_EQ(w.config().getCustomRegEx(), QStringLiteral("([0-9]+)"));
    // The marker says that the preset's expression is replaced.
    EXPECT_FALSE(marker->isHidden());
    EXPECT_EQ(qobject_cast<QLabel*>(marker)->text(), tr("custom.regex.in.use"));

    // Cancel keeps it.
    whenOpen<CustomRegExDialog>([](CustomRegExDialog* d) {
        d->regExTextArea()->setPlainText(QStringLiteral("(x)"));
        d->cancelButtonActionPerformed();
    });
    w.customizeButtonActionPerformed();
    EXPECT_EQ(w.config().getCustomRegEx(), QStringLiteral("([0-9]+)"));
    EXPECT_TRUE(dialogs().isEmpty());

    // Only the last lines are kept.
    for (int i = 0; i < VororaZeZovFrame2::kLastReceivedLines + 5; ++i) {
        const worker::DataLine line(QString::number(i), QString(), i + 2, worker::DataLine::now(), false);
        w.connectionPresenter()->showLine(line, line);
    }
    const QStringList last = w.lastReceivedLines();
    ASSERT_EQ(last.size(), VororaZeZovFrame2::kLastReceivedLines);
    EXPECT_EQ(last.last(), QString::number(VororaZeZovFrame2::kLastReceivedLines + 4));
}

TEST_F(DialogWiringTest, AdjustOpensTheDuplicateLimitsDialog) {
    auto& w = open();
    w.config().setIgnoreTimeLimit(QStringLiteral("1000"));
    w.config().setIgnoreDifference(QString());
    QString shownLimit;
    whenOpen<IgnoreDialog>([&](IgnoreDialog* d) {
        shownLimit = d->timeLimitField()->text();
        d->timeLimitField()->setText(QStringLiteral("250"));
        d->differenceField()->setText(QStringLiteral("0,5"));
        d->okButtonActionPerformed();
    });
    w.adjustIgnoreButtonActionPerformed();
    EXPECT_EQ(shownLimit, QStringLiteral("1000"));
    EXPECT_EQ(w.config().getIgnoreTimeLimit(), QStringLiteral("250"));
    EXPECT_EQ(w.config().getIgnoreDifference(), QStringLiteral("0.5"));
    EXPECT_TRUE(dialogs().isEmpty());
}

TEST_F(DialogWiringTest, AutoDetectSelectsTheFoundPortAndStoresIt) {
    QStringList probed;
    adjustOptions_ = [&probed](VororaZeZovFrame2::Options& o) {
        o.detection = [&probed](worker::AutoPortWorkerView* view, const QStringList& ports) {
            probed = ports;
            return std::make_unique<FoundDetection>(view, QStringLiteral("NOPE"));
        };
    };
    auto& w = open();
    auto* portList = w.findChild<QComboBox*>(QStringLiteral("portList"));
    ASSERT_EQ(portList->currentData().toString(), QStringLiteral("SIM1"));
    QString button;
    whenOpen<AutoPortDialog>([&](AutoPortDialog* d) {
        button = d->button()->text();
        d->buttonActionPerformed(); // detection over: closes
    });
    w.autoButtonActionPerformed();
    EXPECT_EQ(probed, simulatedPorts());
    EXPECT_EQ(button, QStringLiteral("Close"));
    EXPECT_EQ(portList->currentText(), util::FriendlyPortUtil::getFriendlyPortName(QStringLiteral("NOPE")));
    EXPECT_EQ(w.config().getPort(), QStringLiteral("NOPE"));
}

TEST_F(DialogWiringTest, ExportWritesWhatTheWindowShowsAndAsksBeforeOverwriting) {
    auto& w = open();
    const QString file = dir_.filePath(QStringLiteral("Vornal.xml"));
    QString offered;
    SettingsTransferDialogs::setFileChooser([&](QWidget*, bool save, const QString& suggested) {
        EXPECT_TRUE(save);
        offered = suggested;
        return file;
    });
    // Changed, not yet saved by a tab change.
    field("delayTextField")->setText(QStringLiteral("45"));
    dialogs();
    w.exportSettingsButtonActionPerformed();
    EXPECT_TRUE(offered.endsWith(QStringLiteral("Vornal.xml")));
    auto records = dialogs();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].title, tr("export.successful"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray exported = f.readAll();
    f.close();
    EXPECT_TRUE(exported.contains(R"(key="delay" value="45")")) << exported.toStdString();
    EXPECT_TRUE(storeText().contains(QStringLiteral("45"))) << "saved before the export";

    // The file exists: No leaves it untouched.
    field("delayTextField")->setText(QStringLiteral("60"));
    MessageBoxes::setNextAnswer(QMessageBox::No);
    w.exportSettingsButtonActionPerformed();
    records = dialogs();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].title, tr("overwrite"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), exported);
}

TEST_F(DialogWiringTest, ConfirmedImportExitsWithFourWithoutSavingOverIt) {
    auto& w = open();
    const QString file = dir_.filePath(QStringLiteral("Vornal.xml"));
    SettingsTransferDialogs::setFileChooser([&](QWidget*, bool, const QString&) { return file; });
    field("delayTextField")->setText(QStringLiteral("77"));
    w.exportSettingsButtonActionPerformed();
    field("delayTextField")->setText(QStringLiteral("12"));
    dialogs();

    // A file that is no export: "Import failed" and the reason; the window goes on.
    const QString junk = dir_.filePath(QStringLiteral("junk.xml"));
    {
        QFile j(junk);
        ASSERT_TRUE(j.open(QIODevice::WriteOnly));
        j.write("not a settings file");
    }
    SettingsTransferDialogs::setFileChooser([&](QWidget*, bool, const QString&) { return junk; });
    QSignalSpy exits(&w, &VororaZeZovFrame2::exitRequested);
    w.importSettingsButtonActionPerformed();
    auto records = dialogs();
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(records[0].text.startsWith(QStringLiteral("Import failed\n")));
    EXPECT_GT(records[0].text.size(), QStringLiteral("Import failed\n").size()) << "with the reason";
    EXPECT_EQ(exits.count(), 0);

    SettingsTransferDialogs::setFileChooser([&](QWidget*, bool, const QString&) { return file; });
    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    w.importSettingsButtonActionPerformed();
    records = dialogs();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].text, QStringLiteral("Apply imported configuration and exit?"));
    EXPECT_EQ(records[0].title, QStringLiteral("Restart required"));
    ASSERT_EQ(exits.count(), 1);
    EXPECT_EQ(exits.at(0).at(0).toInt(), 4);

    // The window's own "12" is not saved over the imported "77"; the next start shows it.
    closeWindow();
    window_.reset();
    auto& again = open();
    EXPECT_EQ(again.config().getDelay(), QStringLiteral("77"));
}

TEST_F(DialogWiringTest, TrayMinimisationFollowsTheSettingAndTheConnectionMode) {
    // Without a tray on the desktop (offscreen): absent, no message.
    auto& plain = open();
    plain.findChild<QCheckBox*>(QStringLiteral("minimizeToTrayCheckBox"))->setChecked(true);
    plain.findChild<QRadioButton*>(QStringLiteral("autoConnectButton"))->click();
    closeWindow();
    window_.reset();
    auto& noTray = open();
    EXPECT_FALSE(noTray.trayMinimizer()->isInstalled());
    EXPECT_TRUE(dialogs().isEmpty());
    window_.reset();

    auto tray = std::make_shared<FakeTray>();
    adjustOptions_ = [tray](VororaZeZovFrame2::Options& o) { o.systemTray = tray; };
    // Auto-start with the option on: the connection starts and the window goes to the tray.
    auto& w = open({}, true);
    ASSERT_TRUE(w.trayMinimizer()->isInstalled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
    ASSERT_NE(tray->last, nullptr);
    EXPECT_TRUE(tray->last->visible);
    EXPECT_FALSE(w.isVisible());
    tray->last->onDoubleClick();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(tray->last->visible);
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected(); }, 5000));
    QCoreApplication::processEvents();

    // Switching to manual connection removes it at once.
    w.findChild<QRadioButton*>(QStringLiteral("manualConnectButton"))->click();
    EXPECT_EQ(w.config().getConnect(), ConfigHelper::Connect::MANUAL);
    EXPECT_FALSE(w.trayMinimizer()->isInstalled());
    w.showMinimized();
    EXPECT_FALSE(tray->last->visible);
}

TEST_F(DialogWiringTest, ALostConnectionShowsATrayMessageWhileTheWindowIsInTheTray) {
    auto& plain = open();
    plain.findChild<QCheckBox*>(QStringLiteral("minimizeToTrayCheckBox"))->setChecked(true);
    plain.findChild<QRadioButton*>(QStringLiteral("autoConnectButton"))->click();
    closeWindow();
    window_.reset();
    auto tray = std::make_shared<FakeTray>();
    adjustOptions_ = [tray](VororaZeZovFrame2::Options& o) { o.systemTray = tray; };
    auto& w = open({}, true); // auto-start: the window goes to the tray
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
    ASSERT_NE(tray->last, nullptr);
    ASSERT_TRUE(tray->last->visible);
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected(); }, 5000));
    // The instrument of the next connection goes away while the window is in the tray.
    auto* ports = qobject_cast<QComboBox*>(w.control(QStringLiteral("portList")));
    ports->addItem(QStringLiteral("GONE"), QStringLiteral("GONE"));
    ports->setCurrentIndex(ports->count() - 1);
    w.findChild<QCheckBox*>(QStringLiteral("reconnectCheckBox"))->setChecked(false);
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tray->last->balloons.isEmpty(); }, 5000));
    EXPECT_TRUE(tray->last->balloons.last().startsWith(QStringLiteral("Connection lost|")))
        << tray->last->balloons.join(u'\n').toStdString();
    EXPECT_TRUE(tray->last->balloons.last().contains(QStringLiteral("GONE")));
    // While a connection waits for its port the tray's tool tip says so, until it ends.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected(); }, 5000));
    ports->addItem(QStringLiteral("AWAY"), QStringLiteral("AWAY"));
    ports->setCurrentIndex(ports->count() - 1);
    w.findChild<QCheckBox*>(QStringLiteral("reconnectCheckBox"))->setChecked(true);
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray->last->toolTip.contains(QStringLiteral("AWAY")); }, 5000))
        << tray->last->toolTip.toStdString();
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected(); }, 5000));
    EXPECT_EQ(tray->last->toolTip, QStringLiteral("Vornal"));
    dialogs();
}

TEST_F(DialogWiringTest, UpdateCheckRunsOnlyWhenDueAndReportsInTheStatusLabel) {
    // Nothing answers on this port: the check fails quickly.
    qputenv("VORNAL_UPDATE_URL", "https://127.0.0.1:9/version.xml");
    adjustOptions_ = [](VororaZeZovFrame2::Options& o) { o.updateRandom = [](int) { return 0; }; };
    auto& off = open();
    off.findChild<QCheckBox*>(QStringLiteral("checkForUpdatesCheckBox"))->setChecked(false);
    closeWindow();
    window_.reset();
    auto& w1 = open();
    EXPECT_EQ(w1.updateWorker(), nullptr) << "setting off: no check";
    w1.findChild<QCheckBox*>(QStringLiteral("checkForUpdatesCheckBox"))->setChecked(true);
    closeWindow();
    window_.reset();

    auto& w = open();
    ASSERT_NE(w.updateWorker(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.updateWorker()->isDone(); }, 15000));
    QCoreApplication::processEvents();
    const QString failed = tr("update.check.failed");
    const QString prefix = failed.left(failed.indexOf(u'{'));
    EXPECT_TRUE(w.statusLabel()->text().startsWith(prefix)) << w.statusLabel()->text().toStdString();
    EXPECT_TRUE(dialogs().isEmpty()) << "never a dialog";
    qunsetenv("VORNAL_UPDATE_URL");
}

TEST_F(DialogWiringTest, AboutLinksOpenInTheBrowserAndRefusalsShowTheProblemDialog) {
    auto& w = open();
    std::mutex m;
    QStringList opened;
    util::OpenHyperlinkInBrowser::setBrowserOpener([&](const QUrl& url) {
        std::lock_guard lock(m);
        opened += url.toString();
        return true;
    });
    dialogs();
    emit w.aboutPane()->anchorClicked(QUrl(QStringLiteral("https://example.org/vornal")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(m);
            return !opened.isEmpty();
        },
        5000));
    EXPECT_EQ(opened, QStringList{QStringLiteral("https://example.org/vornal")});

    w.aboutPaneHyperlinkUpdate(QUrl(QStringLiteral("file:///etc/passwd")));
    const auto records = waitForRecordsOf(1);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].title, QStringLiteral("A problem occured"));
    std::lock_guard lock(m);
    EXPECT_EQ(opened.size(), 1) << "a file address is never handed to the browser";
}

TEST(DialogWiringResources, StartUpCheckCoversEveryDialogKeyInEveryLanguage) {
    const auto required = VororaZeZovFrame2::requiredKeys(QStringLiteral("vornal.Vornal"));
    QStringList windowKeys;
    for (const auto& [name, keys] : required)
        if (name == u"vornal.Vornal")
            windowKeys = keys;
    for (const QString& k : DialogTexts::requiredKeys())
        EXPECT_TRUE(windowKeys.contains(k)) << k.toStdString();
    for (const char* k : {"checking.for.update", "update.available", "update.check.failed"})
        EXPECT_TRUE(windowKeys.contains(QString::fromLatin1(k))) << k;
    for (const QString& language : {QStringLiteral(""), QStringLiteral("de")}) {
        for (const auto& [name, keys] : required) {
            const auto& bundle = util::ResourceBundle::get(name, language);
            ASSERT_TRUE(bundle.isValid()) << name.toStdString();
            for (const QString& k : keys)
                EXPECT_TRUE(bundle.contains(k))
                    << name.toStdString() << " " << language.toStdString() << " " << k.toStdString();
        }
    }
}

} // namespace
} // namespace vornal::test
