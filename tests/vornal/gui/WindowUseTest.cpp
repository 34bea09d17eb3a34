// What a user meets on first use: the status during an outage, the placement rule, the Start tab's
// summary, keyboard use, the German window.
#include "GuiTestMain.h"

#include "EventLog.h"
#include "ReadingsBox.h"
#include "dialogs/AutoPortDialog.h"
#include "dialogs/IgnoreDialog.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Connection.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

#include <map>
#include <set>

namespace vornal::test {
namespace {

using config::ConfigHelper;

class WindowUseTest : public WindowFixture {
protected:
    void choosePort(VororaZeZovFrame2& w, const QString& port) {
        auto* ports = qobject_cast<QComboBox*>(w.control(QStringLiteral("portList")));
        ports->addItem(port, port);
        ports->setCurrentIndex(ports->count() - 1);
    }
};

// The port goes away for a few seconds: the status says so for the whole wait, not the line count of
// before; after Stop the idle text stays, also when a value typed late reports itself.
TEST_F(WindowUseTest, TheStatusSaysThatTheWindowWaitsForThePortUntilItComesBackOrStop) {
    auto& w = open();
    choosePort(w, QStringLiteral("LOST"));
    w.findChild<QCheckBox*>(QStringLiteral("reconnectCheckBox"))->setChecked(true);
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statusLabel()->text().startsWith(tr("line.count")); }, 5000));
    const QString waiting = QStringLiteral("Waiting for the port");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statusLabel()->text().contains(waiting); }, 5000))
        << w.statusLabel()->text().toStdString();
    // A second of the wait, sampled.
    for (int i = 0; i < 20; ++i) {
        QTest::qWait(50);
        ASSERT_TRUE(w.statusLabel()->text().contains(waiting))
            << i << ' ' << w.statusLabel()->text().toStdString();
        ASSERT_TRUE(w.statusLabel()->text().contains(QStringLiteral("LOST")));
    }
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected() && w.tabs()->count() == 7; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(w.statusLabel()->text(), tr("VororaZeZovFrame2.statusJLabel.text"));
    // The typing thread reports a value after the end.
    auto* connection = w.findChild<worker::Connection*>();
    ASSERT_NE(connection, nullptr);
    emit connection->valueTyped(QStringLiteral("2.000"), 0);
    QTest::qWait(300);
    EXPECT_EQ(w.statusLabel()->text(), tr("VororaZeZovFrame2.statusJLabel.text"));
    dialogs();
}

// Once per placement: the Processing tab says which rule ends a placement and where the difference is.
TEST_F(WindowUseTest, TheProcessingTabSaysWhichRuleEndsAPlacement) {
    auto& w = open();
    auto* rule = w.findChild<QLabel*>(QStringLiteral("placementRuleLabel"));
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->text(), tr("readings.placementRule.zero"));
    EXPECT_TRUE(rule->text().contains(tr("VororaZeZovFrame2.adjustIgnoreButton.text")));
    w.config().setIgnoreDifference(QStringLiteral("0.005"));
    closeWindow();
    auto& again = open();
    rule = again.findChild<QLabel*>(QStringLiteral("placementRuleLabel"));
    EXPECT_TRUE(rule->text().contains(QStringLiteral("0.005"))) << rule->text().toStdString();
    EXPECT_NE(rule->text(), tr("readings.placementRule.zero"));
}

// The Start tab shows what a start will use, and warns where values would run together.
TEST_F(WindowUseTest, TheStartTabShowsPortInstrumentAndTerminatorAndWarnsWhenValuesRunTogether) {
    auto& w = open();
    auto* summary = w.findChild<QLabel*>(QStringLiteral("startSummaryLabel"));
    auto* hint = w.findChild<QLabel*>(QStringLiteral("startHintLabel"));
    ASSERT_NE(summary, nullptr);
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(summary->text().contains(QStringLiteral("SIM1"))) << summary->text().toStdString();
    EXPECT_TRUE(summary->text().contains(ConfigHelper::Instrument::GENERIC.toPlainString()));
    EXPECT_TRUE(summary->text().contains(ConfigHelper::OutputTerminator::NONE.toString()));
    EXPECT_FALSE(hint->isHidden());
    EXPECT_EQ(hint->text(), tr("start.hint.noTerminator"));
    // Enter after each value: no hint, and the summary names it.
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::OutputTab));
    auto* terminator = qobject_cast<QComboBox*>(w.control(QStringLiteral("outputTerminatorBox")));
    terminator->setCurrentIndex(terminator->findData(QStringLiteral("ENTER")));
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::StartTab));
    EXPECT_TRUE(summary->text().contains(ConfigHelper::OutputTerminator::ENTER.toString()));
    EXPECT_TRUE(hint->isHidden());
}

// Keyboard use: the Start button has the focus at start, Enter presses the focused button (every push
// button of the window), and Tab reaches every control of every tab.
TEST_F(WindowUseTest, EveryControlIsReachedByTabAndEnterPressesTheFocusedButton) {
    auto& w = open();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), w.startStopButton());
    const auto named = [](QWidget* f) {
        // The text field of an editable list or a spin box stands for its control.
        while (f && f->parentWidget() &&
               (qobject_cast<QComboBox*>(f->parentWidget()) ||
                qobject_cast<QAbstractSpinBox*>(f->parentWidget())))
            f = f->parentWidget();
        return f;
    };
    for (int pos = 0; pos < 7; ++pos) {
        QWidget* page = w.panel(static_cast<VororaZeZovFrame2::TabPos>(pos));
        w.tabs()->setCurrentWidget(page);
        QSet<QWidget*> controls;
        for (QWidget* c : page->findChildren<QWidget*>()) {
            const bool input = qobject_cast<QAbstractButton*>(c) || qobject_cast<QComboBox*>(c) ||
                               qobject_cast<QLineEdit*>(c) || qobject_cast<QAbstractSpinBox*>(c);
            auto* radio = qobject_cast<QRadioButton*>(c);
            if (!input || !c->isVisibleTo(&w) || !c->isEnabled() || named(c) != c ||
                (radio && !radio->isChecked()) || c->objectName().isEmpty())
                continue;
            controls.insert(c);
        }
        QSet<QWidget*> reached;
        w.tabs()->tabBar()->setFocus();
        for (int i = 0; i < 120 && reached.size() < controls.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QWidget* f = named(QApplication::focusWidget()); controls.contains(f))
                reached.insert(f);
        }
        QStringList missing;
        for (QWidget* c : controls)
            if (!reached.contains(c))
                missing << c->objectName();
        EXPECT_TRUE(missing.isEmpty()) << pos << ": " << missing.join(u' ').toStdString();
        // Enter on each push button of the tab presses it (what it then does is not the point here).
        for (QPushButton* b : page->findChildren<QPushButton*>()) {
            if (!b->isVisibleTo(&w) || !b->isEnabled())
                continue;
            QObject::disconnect(b, &QAbstractButton::clicked, nullptr, nullptr);
            int clicks = 0;
            QObject::connect(b, &QAbstractButton::clicked, [&clicks] { ++clicks; });
            b->setFocus();
            QTest::keyClick(b, Qt::Key_Return);
            EXPECT_TRUE(QTest::qWaitFor([&] { return clicks == 1; }, 2000)) << b->objectName().toStdString();
        }
    }
}

// Every tab in each language: the Alt letters of the tabs and of the controls shown with a tab are each
// taken once, every captioned control of the Start, Input and Settings tabs has one, and the others give
// one to at least three in four (as far as the captions allow next to the seven letters of the tabs).
TEST_F(WindowUseTest, AltLettersAreUniqueOnEveryTabInEachLanguage) {
    for (const QString& lang : {QStringLiteral("en"), QStringLiteral("de")}) {
        util::ResourceBundle::setLocale(lang);
        ConfigHelper::reloadTexts();
        if (window_)
            closeWindow();
        window_.reset();
        auto& w = open();
        const auto letterOf = [](const QString& text) {
            const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("&([^&])")).match(text);
            return m.hasMatch() ? m.captured(1).toUpper() : QString();
        };
        QStringList tabLetters;
        for (int i = 0; i < w.tabs()->count(); ++i)
            tabLetters << letterOf(w.tabs()->tabText(i));
        EXPECT_EQ(QSet<QString>(tabLetters.begin(), tabLetters.end()).size(), 7)
            << tabLetters.join(u' ').toStdString();
        for (int pos = 0; pos < 7; ++pos) {
            QWidget* page = w.panel(static_cast<VororaZeZovFrame2::TabPos>(pos));
            QStringList taken = tabLetters;
            int captioned = 0, withLetter = 0;
            QStringList without;
            const auto check = [&](const QString& text) {
                ++captioned;
                const QString letter = letterOf(text);
                if (letter.isEmpty()) {
                    without << text;
                    return;
                }
                ++withLetter;
                EXPECT_FALSE(taken.contains(letter))
                    << lang.toStdString() << " tab " << pos << ": " << text.toStdString() << " uses "
                    << letter.toStdString() << " again";
                taken << letter;
            };
            for (QLabel* l : page->findChildren<QLabel*>())
                if (l->buddy())
                    check(l->text());
            for (QAbstractButton* b : page->findChildren<QAbstractButton*>())
                if (!b->text().isEmpty())
                    check(b->text());
            if (pos == VororaZeZovFrame2::StartTab || pos == VororaZeZovFrame2::SettingsTab ||
                pos == VororaZeZovFrame2::InputTab)
                EXPECT_TRUE(without.isEmpty())
                    << lang.toStdString() << " tab " << pos << ": " << without.join(u'|').toStdString();
            else
                EXPECT_GE(withLetter * 4, captioned * 3)
                    << lang.toStdString() << " tab " << pos << ": " << without.join(u'|').toStdString();
        }
    }
    util::ResourceBundle::setLocale(QStringLiteral("en"));
    ConfigHelper::reloadTexts();
}

// The request hotkey field records the combination pressed in it and can be emptied.
TEST_F(WindowUseTest, TheRequestHotkeyFieldRecordsTheCombinationPressed) {
    auto& w = open();
    auto* box = w.findChild<ReadingsBox*>();
    ASSERT_NE(box, nullptr);
    QLineEdit* field = box->requestHotkey();
    field->setEnabled(true); // a desktop without global shortcuts records the same way
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::ProcessingTab));
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    field->setFocus();
    QTest::keyClick(field, Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(field->text(), QStringLiteral("Ctrl+Alt+R"));
    QTest::keyClick(field, Qt::Key_X); // a letter alone is no combination
    EXPECT_EQ(field->text(), QStringLiteral("Ctrl+Alt+R"));
    QTest::keyClick(field, Qt::Key_F9, Qt::ShiftModifier);
    EXPECT_EQ(field->text(), QStringLiteral("Shift+F9"));
    w.updateConfigFromTabs();
    EXPECT_EQ(w.config().getRequestHotkey(), QStringLiteral("Shift+F9"));
    EXPECT_TRUE(field->isClearButtonEnabled());
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_TRUE(field->text().isEmpty());
    // Tab still moves on.
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), field);
    EXPECT_TRUE(field->text().isEmpty());
}

// A data log that cannot be written shows in the status line, not only in the event log, until it can
// be written again.
TEST_F(WindowUseTest, ADataLogThatCannotBeWrittenShowsInTheStatusUntilItCanBeAgain) {
    auto& w = open();
    // A file where the folder should be: nothing can be created below it.
    const QString folder = dir_.filePath(QStringLiteral("logs"));
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    w.findChild<ReadingsBox*>()->dataLogFile()->setText(folder + QStringLiteral("/readings.csv"));
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
    const QString failing = QStringLiteral("readings.csv");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.statusLabel()->text().contains(failing); }, 5000))
        << w.statusLabel()->text().toStdString();
    EXPECT_TRUE(w.statusLabel()->text().contains(tr("line.count"))) << w.statusLabel()->text().toStdString();
    QTest::qWait(400);
    EXPECT_TRUE(w.statusLabel()->text().contains(failing)) << "stays while the log fails";
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.statusLabel()->text().contains(failing); }, 5000))
        << w.statusLabel()->text().toStdString();
    EXPECT_TRUE(w.statusLabel()->text().startsWith(tr("line.count")));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/readings.csv")));
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected(); }, 5000));
    dialogs();
}

// A long status text wraps instead of widening the window; long event-log lines wrap in view.
TEST_F(WindowUseTest, LongTextsWrapInsteadOfWideningTheWindowOrLeavingTheView) {
    auto& w = open();
    w.resize(729, 520);
    QCoreApplication::processEvents();
    const int width = w.width();
    const int minimum = w.minimumSizeHint().width();
    w.setText(
        QStringLiteral("The connection to /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K2XYZ-if00-port0 "
                       "was lost (the device was unplugged). Waiting for the port; press Stop to end."));
    QCoreApplication::processEvents();
    EXPECT_EQ(w.width(), width);
    EXPECT_LE(w.minimumSizeHint().width(), minimum);
    w.tabs()->setCurrentWidget(w.panel(VororaZeZovFrame2::EventLogTab));
    w.eventLog()->logEvent(QString(300, u'x') + QStringLiteral(" the end"));
    QCoreApplication::processEvents();
    EXPECT_EQ(w.eventLog()->horizontalScrollBar()->maximum(), 0);
}

// Every text a widget under `root` shows, in the order of the widgets (two windows built the same way
// list their texts in the same order): captions without their mnemonic, combo box items, placeholders,
// spin box suffixes, group box titles, tab titles, the window title.
QStringList visibleTexts(QWidget* root) {
    QStringList texts;
    const auto add = [&texts](QString t) {
        if (Qt::mightBeRichText(t)) {
            QTextDocument d;
            d.setHtml(t);
            t = d.toPlainText();
        }
        t.remove(QRegularExpression(QStringLiteral("&(?=[^&])")));
        texts << t.trimmed();
    };
    add(root->windowTitle());
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (auto* l = qobject_cast<QLabel*>(w))
            add(l->text());
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            add(b->text());
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            add(g->title());
        else if (auto* c = qobject_cast<QComboBox*>(w); c && c->objectName() != u"portList") // devices' names
            for (int i = 0; i < c->count(); ++i)
                add(c->itemText(i));
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            add(e->placeholderText());
        else if (auto* t = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i)
                add(t->tabText(i));
        if (auto* spin = qobject_cast<QSpinBox*>(w)) {
            add(spin->suffix());
            add(spin->specialValueText());
        }
    }
    return texts;
}

// Texts that read the same in both languages: names, units, numbers.
bool sameInEveryLanguage(const QString& text) {
    static const std::set<QString> names = {"Start",
                                            "Halvorn Vornal",
                                            "Vornal",
                                            "X11 (XTest)",
                                            "Windows (SendInput)",
                                            "XON/XOFF (Software)",
                                            "RTS/CTS (Hardware)",
                                            "Backslash",
                                            "Esc",
                                            "Minus",
                                            "MiB",
                                            "Mars Scale",
                                            "Denver Instrument",
                                            "Scale Manufacturers Association SCP",
                                            "Mettler Toledo Dialog",
                                            "Mettler Toledo Print",
                                            "Ctrl+Alt+R",
                                            "ms",
                                            "Operand",
                                            "Position"};
    // Makers and model names of the instrument presets.
    static const std::set<QString> brands = {
        "A&D",      "Acculab", "Adam",      "CPWplus", "Highland",  "Dini",      "Argeo",
        "Kern",     "Keyence", "Mettler",   "Toledo",  "Mitutoyo",  "MyWeigh",   "Ultraship-U2",
        "Ohaus",    "Precisa", "Radwag",    "Rice",    "Lake",      "Sartorius", "Entris",
        "Shimadzu", "Schlage", "HandPunch", "Tanita",  "Wedderburn"};
    if (names.count(text) || names.count(text.chopped(text.endsWith(u':') ? 1 : 0)))
        return true;
    if (!text.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))))
        return true; // numbers and symbols
    for (const QString& word :
         text.split(QRegularExpression(QStringLiteral("[\\s,/()]+")), Qt::SkipEmptyParts)) {
        const bool code = word.contains(QRegularExpression(QStringLiteral("[0-9]"))) ||
                          word == word.toUpper(); // model codes: 440, MT-SICS, CBK
        if (!code && !brands.count(word))
            return false;
    }
    return true;
}

class GermanWindowTest : public WindowUseTest {
protected:
    void TearDown() override {
        WindowUseTest::TearDown();
        language(QStringLiteral("en"));
    }
    static void language(const QString& lang) {
        util::ResourceBundle::setLocale(lang);
        ConfigHelper::reloadTexts();
    }
    // The window's texts in `lang`, and its event-log messages of a short connection.
    QStringList windowTexts(const QString& lang, QStringList* logMessages) {
        language(lang);
        if (window_)
            closeWindow();
        window_.reset();
        QFile::remove(storeFile());
        auto& w = open();
        QStringList texts = visibleTexts(&w);
        // The dialogs of the window.
        IgnoreDialog ignore(&w, QString(), QString());
        texts += visibleTexts(&ignore);
        AutoPortDialog detect(&w);
        detect.setButtonToClose();
        texts += visibleTexts(&detect);
        // The once-per-placement rule and the status line while a connection runs.
        qobject_cast<QComboBox*>(w.control(QStringLiteral("instrumentBox")))
            ->setCurrentIndex(ConfigHelper::Instrument::AND.ordinal());
        w.startStopJButtonActionPerformed();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
        QTest::qWait(300);
        texts += visibleTexts(&w);
        w.startStopJButtonActionPerformed();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isConnected() && w.tabs()->count() == 7; }, 5000));
        QTest::qWait(100);
        for (QString line : logText().split(u'\n', Qt::SkipEmptyParts)) {
            line = line.mid(9); // the time
            if (!line.contains(QStringLiteral("ST,GS")))
                *logMessages << line;
        }
        dialogs();
        return texts;
    }
};

// The German window shows no English: every text it shows (controls, lists, dialogs, the status
// line) and every message of its event log differs from the English one, except names and units.
TEST_F(GermanWindowTest, EveryTextOfTheGermanWindowIsGerman) {
    QStringList englishLog, germanLog;
    const QStringList english = windowTexts(QStringLiteral("en"), &englishLog);
    const QStringList german = windowTexts(QStringLiteral("de"), &germanLog);
    ASSERT_EQ(english.size(), german.size());
    ASSERT_GT(english.size(), 300);
    QStringList untranslated;
    for (qsizetype i = 0; i < english.size(); ++i)
        if (!english[i].isEmpty() && english[i] == german[i] && !sameInEveryLanguage(german[i]))
            untranslated << german[i];
    untranslated.removeDuplicates();
    EXPECT_TRUE(untranslated.isEmpty()) << untranslated.join(QStringLiteral(" | ")).toStdString();
    ASSERT_GE(germanLog.size(), 4) << germanLog.join(u'\n').toStdString();
    QStringList englishInLog;
    for (const QString& line : germanLog)
        if (englishLog.contains(line) && !sameInEveryLanguage(line))
            englishInLog << line;
    EXPECT_TRUE(englishInLog.isEmpty()) << englishInLog.join(u'\n').toStdString();
    // One word for the port in the window and the log.
    EXPECT_FALSE(germanLog.join(u' ').contains(QStringLiteral("Anschluss")))
        << germanLog.join(u'\n').toStdString();
}

// A value cut by the keyboard output and typing that has ended are said in the status line in the
// user's language, and in English as before.
TEST_F(GermanWindowTest, TheStatusOfACutValueAndOfEndedTypingFollowsTheLanguage) {
    const QString cut = QStringLiteral("cut: typed '1', not typed '2'");
    const QString why = QStringLiteral("the keyboard output can type no more (gone)");
    const std::map<QString, QStringList> expected{
        {QStringLiteral("en"),
         {QStringLiteral("Only part of a value was typed (%1): check it in the target window.").arg(cut),
          QStringLiteral("Typing stopped: %1. The event log names the values not typed; press Start to type "
                         "again.")
              .arg(why)}},
        {QStringLiteral("de"),
         {QStringLiteral("Von einem Wert wurde nur ein Teil getippt (%1): Prüfen Sie ihn im Zielfenster.")
              .arg(cut),
          QStringLiteral(
              "Das Tippen wurde beendet: %1. Das Protokoll nennt die nicht getippten Werte; drücken "
              "Sie Start, um wieder zu tippen.")
              .arg(why)}}};
    for (const auto& [lang, texts] : expected) {
        language(lang);
        if (window_)
            closeWindow();
        window_.reset();
        auto& w = open();
        w.startStopJButtonActionPerformed();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000)) << lang.toStdString();
        auto* connection = w.findChild<worker::Connection*>();
        ASSERT_NE(connection, nullptr);
        emit connection->valueCut(cut);
        EXPECT_EQ(w.statusLabel()->text(), texts[0]) << lang.toStdString();
        w.startStopJButtonActionPerformed();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isConnected() && w.tabs()->count() == 7; }, 5000));
        emit connection->stopped(worker::Connection::StopReason::TypingLost, why);
        EXPECT_EQ(w.statusLabel()->text(), texts[1]) << lang.toStdString();
        dialogs();
    }
}

} // namespace
} // namespace vornal::test
