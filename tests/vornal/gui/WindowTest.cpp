// The main window's controls: validation rules, the instrument question, saving when leaving a tab.
#include "GuiTestMain.h"

#include "EventLog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

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

    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    instruments->setCurrentIndex(ConfigHelper::Instrument::OHAUS.ordinal());
    EXPECT_EQ(dialogs().size(), 1);
    EXPECT_TRUE(w.config().getCustomRegEx().isEmpty());
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

} // namespace
} // namespace vornal::test
