// The main window's controls: validation rules, the instrument question, saving when leaving a tab.
#include "GuiTestMain.h"
#include "support/OtherSettings.h"

#include "EventLog.h"
#include "VororaZeZov.h"
#include "vornal/util/ResourceBundle.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>

#include <map>

namespace vornal::test {
namespace {

using config::ConfigHelper;

template <class W> W* find(VororaZeZovFrame2& w, const char* name) {
    auto* c = qobject_cast<W*>(w.control(QString::fromLatin1(name)));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}

class WindowTest : public WindowFixture {};

// The Input tab: Tab walks the fields in the order they are laid out, every label gives its field an
// Alt shortcut of its own, and the instruments open as a scrolling list.
TEST_F(WindowTest, InputTabFollowsItsLayoutWithAltShortcutsAndAScrollingInstrumentList) {
    auto& w = open();
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::InputTab));
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const QStringList expected = {"portList",       "refreshPortsButton", "instrumentBox",    "defaultButton",
                                  "bitRateBox",     "dataBitsBox",        "stopBitsBox",      "parityBox",
                                  "flowControlBox", "inputTerminatorBox", "inputEncodingBox", "autoButton",
                                  "customizeButton"};
    const auto focused = [] {
        QWidget* f = QApplication::focusWidget();
        // An editable selection list has its text field in focus.
        while (f && f->objectName().isEmpty())
            f = f->parentWidget();
        return f ? f->objectName() : QString();
    };
    w.control(expected.first())->setFocus();
    QStringList walked{focused()};
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << focused();
    }
    EXPECT_EQ(walked, expected);

    // Each label of the tab names a field and carries its own Alt letter.
    QString letters;
    for (auto* l : w.panel(VororaZeZovFrame2::InputTab)->findChildren<QLabel*>()) {
        if (l->objectName() == QStringLiteral("customRegExMarker"))
            continue;
        EXPECT_NE(l->buddy(), nullptr) << l->text().toStdString();
        const qsizetype amp = l->text().indexOf(u'&');
        ASSERT_GE(amp, 0) << l->text().toStdString();
        const QChar letter = l->text().at(amp + 1).toUpper();
        EXPECT_FALSE(letters.contains(letter)) << l->text().toStdString();
        letters += letter;
    }
    EXPECT_EQ(letters.size(), 11);
    // Alt and the instrument label's letter go to the instrument list.
    auto* device = find<QLabel>(w, "deviceLabel");
    const QChar letter = device->text().at(device->text().indexOf(u'&') + 1);
    w.control(QStringLiteral("portList"))->setFocus();
    QTest::keyClick(QApplication::focusWidget(), letter.toLower().toLatin1(), Qt::AltModifier);
    EXPECT_EQ(focused(), QStringLiteral("instrumentBox"));

    // The labels of the processing and output fields too, each tab with letters of its own.
    for (const auto tab : {VororaZeZovFrame2::ProcessingTab, VororaZeZovFrame2::OutputTab}) {
        QString used;
        int named = 0;
        for (auto* l : w.panel(tab)->findChildren<QLabel*>()) {
            if (!l->buddy())
                continue;
            ++named;
            const qsizetype amp = l->text().indexOf(u'&');
            ASSERT_GE(amp, 0) << l->text().toStdString();
            EXPECT_FALSE(used.contains(l->text().at(amp + 1).toUpper())) << l->text().toStdString();
            used += l->text().at(amp + 1).toUpper();
        }
        EXPECT_GE(named, 7);
    }

    auto* instruments = find<QComboBox>(w, "instrumentBox");
    ASSERT_EQ(instruments->count(), int(ConfigHelper::Instrument::values().size()));
    instruments->showPopup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return instruments->view()->isVisible(); }, 2000));
    const int row = instruments->view()->sizeHintForRow(0);
    EXPECT_LE(instruments->view()->height(), 21 * row + 20) << "about 20 rows, not all of them";
    EXPECT_GT(instruments->view()->verticalScrollBar()->maximum(), 0);
    instruments->hidePopup();
}

// The worker's "no port" message sends the user to the tab where the port is chosen.
TEST_F(WindowTest, TheNoPortMessageNamesTheTabOfThePortInEachLanguage) {
    for (const QString& lang : {QStringLiteral("en"), QStringLiteral("de")}) {
        const auto& frame = util::ResourceBundle::get(QStringLiteral("vornal.Vornal"), lang);
        const auto& worker = util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"), lang);
        const QString input = frame.getString(QStringLiteral("VororaZeZovFrame2.inputPanel.tab.title"));
        const QString start = frame.getString(QStringLiteral("VororaZeZovFrame2.panel1.tab.title"));
        const QString message = worker.getString(QStringLiteral("null.port.error"));
        EXPECT_TRUE(message.contains(input)) << lang.toStdString() << ": " << message.toStdString();
        EXPECT_FALSE(message.contains(start)) << lang.toStdString() << ": " << message.toStdString();
    }
}

// The toolkit's own texts (standard buttons, file dialogs) follow the program's language.
TEST_F(WindowTest, TheToolkitsOwnTextsFollowTheLanguage) {
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(dir + QStringLiteral("/qtbase_de.qm")))
        GTEST_SKIP() << "Qt's translations are not installed (qt6-translations-l10n)";
    const auto cancel = [] {
        QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::Cancel);
        return box.button(QDialogButtonBox::Cancel)->text();
    };
    ASSERT_TRUE(VororaZeZov::loadToolkitTranslations(QStringLiteral("de")));
    EXPECT_EQ(cancel(), QStringLiteral("Abbrechen"));
    EXPECT_FALSE(VororaZeZov::loadToolkitTranslations(QStringLiteral("en")));
    EXPECT_EQ(cancel(), QStringLiteral("Cancel"));
}

TEST_F(WindowTest, WindowShowsTitleTabsAndIdleState) {
    auto& w = open();
    EXPECT_EQ(w.fatalExitCode(), 0);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Halvorn Vornal"));
    ASSERT_EQ(w.tabs()->count(), 7);
    const QStringList titles = {QStringLiteral("&Start"),      QStringLiteral("&Input"),
                                QStringLiteral("&Processing"), QStringLiteral("&Output"),
                                QStringLiteral("Settin&gs"),   QStringLiteral("Event &log"),
                                QStringLiteral("&About")};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(w.tabs()->tabText(i), titles[i]);
    EXPECT_EQ(w.startStopButton()->text(), QStringLiteral("S&tart"));
    EXPECT_EQ(w.statusLabel()->text(), tr("VororaZeZovFrame2.statusJLabel.text"));
    EXPECT_EQ(w.control(QStringLiteral("portList"))->toolTip(), tr("VororaZeZovFrame2.portList.toolTipText"));
    EXPECT_FALSE(w.windowIcon().isNull());
    // Text instruments are shown in italics.
    auto* instruments = find<QComboBox>(w, "instrumentBox");
    const int barcode = ConfigHelper::Instrument::BARCODE.ordinal();
    EXPECT_TRUE(instruments->itemData(barcode, Qt::FontRole).value<QFont>().italic());
    EXPECT_FALSE(instruments->itemData(ConfigHelper::Instrument::GENERIC.ordinal(), Qt::FontRole).isValid());
    // The About page starts with the version line.
    auto* about = w.control(QStringLiteral("aboutPane"));
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(VororaZeZovFrame2::versionLine().startsWith(QStringLiteral("Version 2024.1.0.0 EN ")));
    EXPECT_TRUE(dialogTitles().isEmpty());
}

TEST_F(WindowTest, PortListShowsFriendlyNamesAndStoresThePlainName) {
    auto& w = open();
    auto* ports = find<QComboBox>(w, "portList");
    ASSERT_EQ(ports->count(), 2);
    EXPECT_EQ(ports->itemData(1).toString(), QStringLiteral("NOPE"));
    ports->setCurrentIndex(1);
    emit ports->activated(1);
    EXPECT_EQ(w.config().getPort(), QStringLiteral("NOPE"));
}

TEST_F(WindowTest, InputTerminatorOutOfRangeIsRefusedAndRestored) {
    auto& w = open();
    auto* box = find<QComboBox>(w, "inputTerminatorBox");
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::OutputTab));
    ASSERT_EQ(w.config().getInputTerminator(), 13);
    dialogTitles();

    box->lineEdit()->setText(QStringLiteral("300"));
    emit box->lineEdit()->editingFinished();
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, tr("terminator.must.be.between.0.and.255"));
    EXPECT_EQ(shown[0].title, tr("error"));
    EXPECT_EQ(w.config().getInputTerminator(), 13);
    EXPECT_EQ(box->currentText(), ConfigHelper::InputTerminator::CR.toString());
    EXPECT_EQ(w.tabs()->currentWidget(), w.panel(VororaZeZovFrame2::InputTab));

    for (const char* bad : {"-1", "abc", "1e2"}) {
        box->lineEdit()->setText(QString::fromLatin1(bad));
        emit box->lineEdit()->editingFinished();
        EXPECT_EQ(dialogs().size(), 1) << bad;
        EXPECT_EQ(w.config().getInputTerminator(), 13) << bad;
    }
    // A code of its own is kept as typed; a named choice stores its code.
    box->lineEdit()->setText(QStringLiteral("3"));
    emit box->lineEdit()->editingFinished();
    EXPECT_EQ(w.config().getInputTerminator(), 3);
    box->setCurrentIndex(ConfigHelper::InputTerminator::LF.ordinal());
    emit box->activated(box->currentIndex());
    EXPECT_EQ(w.config().getInputTerminator(), 10);
    box->lineEdit()->setText(QStringLiteral("255"));
    emit box->lineEdit()->editingFinished();
    EXPECT_EQ(w.config().getInputTerminator(), 255);
    EXPECT_TRUE(dialogs().isEmpty());
}

TEST_F(WindowTest, DelayOutsideItsRangeIsResetTo20) {
    auto& w = open();
    auto* delay = find<QLineEdit>(w, "delayTextField");
    typeInto(delay, QStringLiteral("1001"));
    // "1", "10", "100" were fine; "1001" is not.
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, tr("error.intercharacter.delay"));
    QCoreApplication::processEvents();
    EXPECT_EQ(delay->text(), QStringLiteral("20"));
    EXPECT_EQ(w.config().getDelay(), QStringLiteral("20"));

    typeInto(delay, QStringLiteral("1000"));
    EXPECT_EQ(w.config().getDelay(), QStringLiteral("1000"));
    delay->clear(); // empty is allowed: the default delay applies
    EXPECT_EQ(w.config().getDelay(), QString());
    EXPECT_TRUE(dialogs().isEmpty());
    typeInto(delay, QStringLiteral("5x"));
    EXPECT_EQ(dialogs().size(), 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(delay->text(), QStringLiteral("20"));
}

TEST_F(WindowTest, KeyboardTypeAllRaisesAShortDelayTo3) {
    auto& w = open();
    auto* delay = find<QLineEdit>(w, "delayTextField");
    auto* keyboard = find<QComboBox>(w, "keyboardTypeBox");
    delay->setText(QStringLiteral("0"));
    dialogs();
    keyboard->setCurrentIndex(ConfigHelper::KeyboardType::ALL.ordinal());
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].kind, MessageBoxes::Kind::Information);
    EXPECT_EQ(shown[0].text, tr("info.delay.keyboard.all"));
    EXPECT_EQ(delay->text(), QStringLiteral("3"));
    EXPECT_EQ(w.config().getDelay(), QStringLiteral("3"));
    EXPECT_EQ(w.config().getKeyboardType(), ConfigHelper::KeyboardType::ALL);

    // With enough delay nothing is said.
    keyboard->setCurrentIndex(ConfigHelper::KeyboardType::GERMAN.ordinal());
    delay->setText(QStringLiteral("25"));
    keyboard->setCurrentIndex(ConfigHelper::KeyboardType::ALL.ordinal());
    EXPECT_TRUE(dialogs().isEmpty());
    EXPECT_EQ(delay->text(), QStringLiteral("25"));
}

TEST_F(WindowTest, ChangingTheInstrumentAsksBeforeDroppingTheCustomExpression) {
    auto& w = open();
    auto* instruments = find<QComboBox>(w, "instrumentBox");
    w.config().setCustomRegEx(QStringLiteral("W:(\\d+)"));
    MessageBoxes::setNextAnswer(QMessageBox::No);
    instruments->setCurrentIndex(ConfigHelper::Instrument::KERN_572.ordinal());
    auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].kind, MessageBoxes::Kind::Question);
    EXPECT_EQ(shown[0].text, QStringLiteral("Overwrite custom regular expression?"));
    EXPECT_EQ(shown[0].title, QStringLiteral("Confirm"));
    EXPECT_EQ(w.config().getInstrument(), ConfigHelper::Instrument::KERN_572);
    EXPECT_EQ(w.config().getCustomRegEx(), QStringLiteral("W:(\\d+)"));
    EXPECT_FALSE(find<QLabel>(w, "customRegExMarker")->isHidden());

    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    instruments->setCurrentIndex(ConfigHelper::Instrument::OHAUS.ordinal());
    EXPECT_EQ(dialogs().size(), 1);
    EXPECT_TRUE(w.config().getCustomRegEx().isEmpty());
    EXPECT_TRUE(find<QLabel>(w, "customRegExMarker")->isHidden()) << "the preset's expression applies again";
    // Without an expression there is nothing to ask.
    instruments->setCurrentIndex(ConfigHelper::Instrument::MARS.ordinal());
    EXPECT_TRUE(dialogs().isEmpty());
}

TEST_F(WindowTest, DefaultButtonSelectsThePresetsPortSettings) {
    auto& w = open();
    find<QComboBox>(w, "instrumentBox")->setCurrentIndex(ConfigHelper::Instrument::AND.ordinal());
    dialogs();
    find<QPushButton>(w, "defaultButton")->click();
    const auto d = ConfigHelper::Instrument::AND.getPortDefaults();
    EXPECT_EQ(w.config().getBitRate(), d.bitRate);
    EXPECT_EQ(w.config().getDataBits(), d.dataBits);
    EXPECT_EQ(w.config().getParity(), d.parity);
    EXPECT_EQ(w.config().getHandshake(), d.handshake);
    EXPECT_EQ(w.config().getInputTerminator(), d.inputTerminator);
}

TEST_F(WindowTest, OperationWithoutOperandFallsBackToNone) {
    auto& w = open();
    auto* op = find<QComboBox>(w, "mathOperationBox");
    auto* operand = find<QLineEdit>(w, "mathOperandTextField");
    op->setCurrentIndex(ConfigHelper::MathOperation::MULTIPLY.ordinal());
    w.updateConfigFromTabs();
    EXPECT_EQ(w.config().getMathOperation(), ConfigHelper::MathOperation::NONE);
    EXPECT_EQ(op->currentIndex(), ConfigHelper::MathOperation::NONE.ordinal());

    op->setCurrentIndex(ConfigHelper::MathOperation::MULTIPLY.ordinal());
    typeInto(operand, QStringLiteral("2.5"));
    w.updateConfigFromTabs();
    EXPECT_EQ(w.config().getMathOperation(), ConfigHelper::MathOperation::MULTIPLY);
    EXPECT_EQ(w.config().getMathOperand(), QStringLiteral("2.5"));
    // Choosing no operation empties the operand.
    op->setCurrentIndex(ConfigHelper::MathOperation::NONE.ordinal());
    EXPECT_TRUE(operand->text().isEmpty());
    EXPECT_TRUE(w.config().getMathOperand().isEmpty());
}

TEST_F(WindowTest, DivisionWithoutDecimalPlacesAsksForThemOnce) {
    auto& w = open();
    auto* op = find<QComboBox>(w, "mathOperationBox");
    typeInto(find<QLineEdit>(w, "mathOperandTextField"), QStringLiteral("4"));
    op->setCurrentIndex(ConfigHelper::MathOperation::DIVIDE.ordinal());
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::AboutTab));
    w.updateConfigFromTabs();
    w.updateConfigFromTabs();
    QCoreApplication::processEvents();
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, tr("please.enter.number.of.decimal.places.for.rounding.or.disable.division"));
    EXPECT_EQ(w.tabs()->currentWidget(), w.panel(VororaZeZovFrame2::ProcessingTab));
}

TEST_F(WindowTest, LeavingProcessingSavesLeavingSettingsDoesNot) {
    auto& w = open();
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::ProcessingTab));
    find<QComboBox>(w, "roundingMethodBox")
        ->setCurrentIndex(ConfigHelper::RoundingMethod::HALF_EVEN.ordinal());
    EXPECT_FALSE(storeText().contains(QStringLiteral("HALF_EVEN")));
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::SettingsTab));
    EXPECT_TRUE(storeText().contains(QStringLiteral("HALF_EVEN")));
    EXPECT_FALSE(config::Config::hasChanged(w.config(), w.oldConfig()));

    // Settings: the change stays unsaved until another save or the window closes.
    auto* manual = w.control(QStringLiteral("autoConnectButton"));
    ASSERT_NE(manual, nullptr);
    qobject_cast<QAbstractButton*>(manual)->click();
    EXPECT_EQ(w.config().getConnect(), ConfigHelper::Connect::AUTO);
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::EventLogTab));
    EXPECT_TRUE(config::Config::hasChanged(w.config(), w.oldConfig()));
    EXPECT_FALSE(storeText().contains(QStringLiteral("connect=AUTO")));

    closeWindow();
    EXPECT_TRUE(storeText().contains(QStringLiteral("AUTO")));
    EXPECT_TRUE(dialogTitles().isEmpty());
}

TEST_F(WindowTest, ClosingSavesAndTellsTheProgram) {
    auto& w = open();
    bool closed = false;
    QObject::connect(&w, &VororaZeZovFrame2::closed, [&] { closed = true; });
    typeInto(find<QLineEdit>(w, "delayTextField"), QStringLiteral("45"));
    closeWindow();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(VororaZeZovFrame2::closing());
    EXPECT_TRUE(storeText().contains(QStringLiteral("45")));

    // The next start shows what was saved.
    VororaZeZovFrame2::setClosing(false);
    auto& again = open();
    EXPECT_EQ(find<QLineEdit>(again, "delayTextField")->text(), QStringLiteral("45"));
}

TEST_F(WindowTest, AFailingStoreIsLoggedWhenLeavingATab) {
    auto& w = open();
    // A folder where the file should be: every write fails.
    QFile::remove(storeFile());
    ASSERT_TRUE(QDir().mkpath(storeFile() + QStringLiteral("/x")));
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::InputTab));
    find<QComboBox>(w, "parityBox")->setCurrentIndex(2);
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::EventLogTab));
    QCoreApplication::processEvents();
    EXPECT_TRUE(logText().contains(tr("autosave.error"))) << logText().toStdString();
    EXPECT_TRUE(dialogTitles().isEmpty());
    closeWindow();
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].text.startsWith(tr("access.error.while.saving.settings")));
}

TEST_F(WindowTest, EverySettingAtANonDefaultValueSurvivesCloseAndReload) {
    // A value for every key that is neither the record's nor the load's default.
    const std::map<QString, QString> other =
        test::otherSettings(QStringLiteral("NOPE"), QStringLiteral("NOPE"));
    ASSERT_EQ(other.size(), std::size_t(config::Config::keys().size()));
    {
        auto& first = open();
        for (const auto& [key, value] : other) {
            QString why;
            ASSERT_TRUE(first.config().setByKey(key, value, &why)) << why.toStdString();
        }
        ASSERT_TRUE(first.saveConfig().isEmpty());
        window_.reset(); // gone without closing: the store holds the record above
    }
    // Shown in the controls, read back from them when the window closes, saved, and shown again.
    open();
    closeWindow();
    EXPECT_TRUE(dialogTitles().isEmpty());
    VororaZeZovFrame2::setClosing(false);
    auto& again = open();
    for (const auto& [key, value] : other)
        EXPECT_EQ(again.config().getByKey(key), value) << key.toStdString();
    EXPECT_EQ(find<QLineEdit>(again, "delayTextField")->text(), QStringLiteral("21"));
    EXPECT_EQ(find<QComboBox>(again, "keyBackendBox")->currentData().toString(), QStringLiteral("x11"));
    EXPECT_TRUE(dialogTitles().isEmpty());
}

// Every setting of the record reaches the window one way: a control row of the tabs, or the dialog
// that edits it. A new setting without a row fails here instead of silently keeping its default.
TEST_F(WindowTest, EverySettingHasOneControlRowOrTheDialogThatEditsIt) {
    auto& w = open();
    QMap<QString, QStringList> shownBy;
    for (const auto& [key, control] : VororaZeZovFrame2::settingRows())
        shownBy[key] << control;
    for (const auto& [key, button] : VororaZeZovFrame2::settingsOutsideTheTabs()) {
        EXPECT_FALSE(shownBy.contains(key)) << key.toStdString() << " has a row and a dialog";
        shownBy[key] << button;
    }
    for (const QString& key : config::Config::keys())
        EXPECT_TRUE(shownBy.contains(key)) << key.toStdString() << " has no control row";
    for (auto it = shownBy.cbegin(); it != shownBy.cend(); ++it) {
        EXPECT_TRUE(config::Config::keys().contains(it.key())) << it.key().toStdString();
        for (const QString& control : it.value()) {
            if (!control.isEmpty()) {
                EXPECT_NE(w.control(control), nullptr)
                    << it.key().toStdString() << ": " << control.toStdString();
            }
        }
        // Only the connection mode is shown by two controls (its radio buttons).
        if (it.key() == u"connect") {
            EXPECT_EQ(it.value().size(), 2);
        } else {
            EXPECT_EQ(it.value().size(), 1) << it.key().toStdString();
        }
    }
}

// The settings of stable readings, requests and the data log are read back with the others: a refused
// text is reported once, with the reason, and the control shows the last valid value again.
TEST_F(WindowTest, ARefusedRequestIntervalIsReportedAndRestoredLikeTheOtherSettings) {
    auto& w = open();
    auto* every = find<QLineEdit>(w, "requestEverySecondsTextField");
    auto* keep = w.control(QStringLiteral("dataLogKeepSpinBox"));
    ASSERT_NE(every, nullptr);
    ASSERT_NE(keep, nullptr);
    const QString before = w.config().getRequestEverySeconds();
    every->setText(QStringLiteral("not a number"));
    keep->setProperty("value", 7);
    w.updateConfigFromTabs();
    EXPECT_EQ(w.config().getRequestEverySeconds(), before);
    EXPECT_EQ(every->text(), before);
    EXPECT_EQ(w.config().getDataLogKeep(), 7) << "the other rows are read all the same";
    const QStringList titles = dialogTitles();
    ASSERT_EQ(titles.size(), 1);
    EXPECT_EQ(titles.first(), tr("error"));
}

} // namespace
} // namespace vornal::test
