// A station of several instruments in the window: adding, renaming and removing them, one port each,
// starting and stopping one or all on two simulated instruments, the log and the status naming the
// instrument, the settings tabs editing the selected one.
#include "GuiTestMain.h"

#include "ConnectionPresenter.h"
#include "EventLog.h"
#include "StartPanel.h"
#include "dialogs/SettingsTransferDialogs.h"

#include "vornal/worker/Connection.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTreeWidget>

namespace vornal::test {
namespace {

using config::ConfigHelper;
using State = ConnectionPresenter::State;

const QStringList kTwoPorts = {QStringLiteral("SIM1"), QStringLiteral("SIM2")};

class StationWindowTest : public WindowFixture {
protected:
    void TearDown() override {
        if (window_) {
            window_->stopAll();
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    for (int i = 0; i < window_->profileCount(); ++i)
                        if (window_->presenterOf(i)->isActive())
                            return false;
                    return true;
                },
                5000));
        }
        WindowFixture::TearDown();
    }
    // A window with a second instrument "Balance" on SIM2 (added through the Start tab's button).
    VororaZeZovFrame2& openStation() {
        auto& w = open({}, false, kTwoPorts);
        MessageBoxes::setNextText(QStringLiteral("Balance"));
        button(w, "addProfileButton")->click();
        EXPECT_EQ(w.profileCount(), 2);
        dialogs();
        return w;
    }
    static QPushButton* button(VororaZeZovFrame2& w, const char* name) {
        return w.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    static QTreeWidget* table(VororaZeZovFrame2& w) {
        return w.findChild<QTreeWidget*>(QStringLiteral("profileTable"));
    }
    static bool waitState(VororaZeZovFrame2& w, int index, State state) {
        return QTest::qWaitFor([&] { return w.presenterOf(index)->state() == state; }, 5000);
    }
};

TEST_F(StationWindowTest, AStationOfOneLooksAsBefore) {
    auto& w = open();
    EXPECT_EQ(w.profileCount(), 1);
    EXPECT_FALSE(w.findChild<QWidget*>(QStringLiteral("stationBox"))->isVisibleTo(&w));
    EXPECT_FALSE(button(w, "removeProfileButton")->isVisibleTo(&w));
    EXPECT_TRUE(button(w, "addProfileButton")->isVisibleTo(&w));
    EXPECT_EQ(table(w)->topLevelItemCount(), 0);
    EXPECT_EQ(w.tabs()->tabText(1), QStringLiteral("&Input"));
    EXPECT_EQ(w.trayToolTip(), tr("tray.idle"));
    // Lines and messages carry no instrument name.
    w.startStopJButtonActionPerformed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.isConnected(); }, 5000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return logText().contains(QStringLiteral("ST,GS,+  12.345 kg")); }, 5000));
    for (const QString& line : logText().split(u'\n', Qt::SkipEmptyParts))
        EXPECT_FALSE(line.mid(9).startsWith(w.profileName(0))) << line.toStdString();
    EXPECT_TRUE(w.statusLabel()->text().startsWith(tr("line.count")) ||
                w.statusLabel()->text() == tr("switch.to.target.application"))
        << w.statusLabel()->text().toStdString();
}

TEST_F(StationWindowTest, InstrumentsAreAddedRenamedAndRemovedWithTheirNamesChecked) {
    auto& w = openStation();
    // The new one takes the free port and is the one the tabs show, by name.
    EXPECT_EQ(w.profileName(1), QStringLiteral("Balance"));
    EXPECT_EQ(w.selectedProfile(), 1);
    EXPECT_EQ(w.config().getPort(), QStringLiteral("SIM2"));
    EXPECT_EQ(w.profileConfig(0).getPort(), QStringLiteral("SIM1"));
    // Otherwise it starts as a first start does (as the first one, loaded from an empty store), not with
    // the bare record's values (110 bit/s, 5 data bits).
    for (const QString& key : config::Config::keys()) {
        if (key != u"port" && key != u"prevPort") {
            EXPECT_EQ(w.profileConfig(1).getByKey(key), w.profileConfig(0).getByKey(key))
                << key.toStdString();
        }
    }
    EXPECT_EQ(w.tabs()->tabText(1), QStringLiteral("&Input \u2014 Balance"));
    EXPECT_EQ(w.tabs()->tabText(4), QStringLiteral("Settin&gs"));
    EXPECT_TRUE(w.findChild<QWidget*>(QStringLiteral("stationBox"))->isVisibleTo(&w));
    ASSERT_EQ(table(w)->topLevelItemCount(), 2);
    EXPECT_EQ(table(w)->topLevelItem(1)->text(0), QStringLiteral("Balance"));
    EXPECT_EQ(table(w)->topLevelItem(1)->text(1), QStringLiteral("SIM2"));
    EXPECT_EQ(table(w)->topLevelItem(1)->text(2), tr("profile.state.idle"));

    // Names: not empty, not taken (in any case), no control characters; a refused name changes nothing.
    for (const QString& bad : {QString(), QStringLiteral("  "), QStringLiteral("balance"),
                               QStringLiteral("A\tB"), QString(41, u'x')}) {
        EXPECT_FALSE(w.addProfile(bad).isEmpty()) << bad.toStdString();
        EXPECT_FALSE(w.renameProfile(0, bad).isEmpty()) << bad.toStdString();
        const auto shown = dialogs();
        ASSERT_EQ(shown.size(), 2) << bad.toStdString();
        EXPECT_EQ(shown[0].title, tr("error"));
    }
    EXPECT_EQ(w.profileCount(), 2);
    EXPECT_TRUE(w.addProfile(QStringLiteral("Balance")).contains(QStringLiteral("\"Balance\"")));
    dialogs();
    // Renaming through the button asks again after a refused name, until one is taken or cancelled.
    table(w)->setCurrentItem(table(w)->topLevelItem(0));
    EXPECT_EQ(w.selectedProfile(), 0);
    MessageBoxes::setNextText(QStringLiteral("BALANCE"));
    MessageBoxes::setNextText(QStringLiteral(" Scanner "));
    button(w, "renameProfileButton")->click();
    EXPECT_EQ(w.profileName(0), QStringLiteral("Scanner"));
    EXPECT_EQ(w.tabs()->tabText(1), QStringLiteral("&Input \u2014 Scanner"));
    EXPECT_EQ(table(w)->topLevelItem(0)->text(0), QStringLiteral("Scanner"));
    dialogs();
    // Renaming an instrument to its own name in another case is allowed.
    EXPECT_TRUE(w.renameProfile(1, QStringLiteral("balance")).isEmpty());
    EXPECT_TRUE(w.renameProfile(1, QStringLiteral("Balance")).isEmpty());

    // Up to eight; the ninth is refused, and the button is off.
    for (int i = 3; i <= VororaZeZovFrame2::kMaxProfiles; ++i)
        ASSERT_TRUE(w.addProfile(QStringLiteral("Gauge %1").arg(i)).isEmpty());
    EXPECT_FALSE(button(w, "addProfileButton")->isEnabled());
    EXPECT_FALSE(w.addProfile(QStringLiteral("Ninth")).isEmpty());
    EXPECT_EQ(w.profileCount(), VororaZeZovFrame2::kMaxProfiles);
    // Only two ports: the others have none rather than a port of another instrument.
    EXPECT_TRUE(w.profileConfig(2).getPort().isEmpty());
    dialogs();

    // Removing asks; No keeps it.
    MessageBoxes::setNextAnswer(QMessageBox::No);
    EXPECT_FALSE(w.removeProfile(1));
    EXPECT_EQ(w.profileCount(), VororaZeZovFrame2::kMaxProfiles);
    auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].kind, MessageBoxes::Kind::Question);
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("\"Balance\""))) << shown[0].text.toStdString();
    while (w.profileCount() > 2) {
        MessageBoxes::setNextAnswer(QMessageBox::Yes);
        ASSERT_TRUE(w.removeProfile(w.profileCount() - 1));
    }
    EXPECT_TRUE(button(w, "addProfileButton")->isEnabled());
    // Removing the selected one shows the one before it.
    w.selectProfile(1);
    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    ASSERT_TRUE(w.removeProfile(1));
    EXPECT_EQ(w.profileCount(), 1);
    EXPECT_EQ(w.selectedProfile(), 0);
    EXPECT_EQ(w.config().getPort(), QStringLiteral("SIM1"));
    // Back to the look of one: no names in the tabs, no list; the last one cannot be removed.
    EXPECT_EQ(w.tabs()->tabText(1), QStringLiteral("&Input"));
    EXPECT_FALSE(w.findChild<QWidget*>(QStringLiteral("stationBox"))->isVisibleTo(&w));
    EXPECT_FALSE(w.removeProfile(0));
    EXPECT_EQ(w.profileCount(), 1);
}

TEST_F(StationWindowTest, APortUsedByAnotherInstrumentCannotBeChosen) {
    auto& w = openStation();
    ASSERT_EQ(w.selectedProfile(), 1);
    auto* ports = qobject_cast<QComboBox*>(w.control(QStringLiteral("portList")));
    ports->setCurrentIndex(ports->findData(QStringLiteral("SIM1")));
    emit ports->activated(ports->currentIndex());
    const auto shown = dialogs();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].kind, MessageBoxes::Kind::Error);
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("SIM1")) && shown[0].text.contains(w.profileName(0)))
        << shown[0].text.toStdString();
    // Not stored, and the box shows the instrument's own port again.
    EXPECT_EQ(w.config().getPort(), QStringLiteral("SIM2"));
    EXPECT_EQ(ports->currentData().toString(), QStringLiteral("SIM2"));
    // Leaving the tab reads the box again: still nothing refused, nothing changed.
    w.updateConfigFromTabs();
    EXPECT_TRUE(dialogs().isEmpty());
    EXPECT_EQ(w.config().getPort(), QStringLiteral("SIM2"));
    // A free port is taken.
    ports->setCurrentIndex(ports->findData(QStringLiteral("SIM2")));
    emit ports->activated(ports->currentIndex());
    EXPECT_TRUE(dialogs().isEmpty());
}

TEST_F(StationWindowTest, OneOrAllStartAndStopAndTheLogNamesTheInstrument) {
    auto& w = openStation();
    ASSERT_TRUE(w.renameProfile(0, QStringLiteral("Scale")).isEmpty());
    // The first one alone, from its row's button; the selected (Balance) keeps its tabs.
    auto* rowButton = qobject_cast<QPushButton*>(table(w)->itemWidget(table(w)->topLevelItem(0), 4));
    ASSERT_NE(rowButton, nullptr);
    EXPECT_EQ(rowButton->text(), tr("start.profiles.start"));
    rowButton->click();
    ASSERT_TRUE(waitState(w, 0, State::Connected));
    EXPECT_EQ(w.presenterOf(1)->state(), State::Idle);
    EXPECT_EQ(w.tabs()->count(), 7);
    EXPECT_EQ(w.startStopButton()->text(), QStringLiteral("S&tart"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return table(w)->topLevelItem(0)->text(3) == u"12.345"; }, 5000))
        << table(w)->topLevelItem(0)->text(3).toStdString();
    EXPECT_EQ(table(w)->topLevelItem(0)->text(2), tr("profile.state.connected"));
    EXPECT_EQ(rowButton->text(), tr("start.profiles.stop"));
    EXPECT_EQ(w.trayToolTip(), QStringLiteral("Vornal: 1 of 2 instruments connected"));

    // All: the other one starts, the running one goes on; the selected one's tabs go.
    button(w, "startAllButton")->click();
    ASSERT_TRUE(waitState(w, 1, State::Connected));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.tabs()->count() == 3; }, 5000));
    EXPECT_EQ(w.startStopButton()->text(), QStringLiteral("Sto&p"));
    EXPECT_EQ(w.presenterOf(0)->state(), State::Connected);
    EXPECT_EQ(w.trayToolTip(), QStringLiteral("Vornal: 2 of 2 instruments connected"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return logText().contains(QRegularExpression(QStringLiteral("Balance: .*45.678 g"))); }, 5000))
        << logText().toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return w.statusLabel()->text().startsWith(QStringLiteral("Balance: ")) ||
                   w.statusLabel()->text().startsWith(QStringLiteral("Scale: "));
        },
        5000))
        << w.statusLabel()->text().toStdString();
    // Every data line and message of the log names its instrument, and each line its own one.
    int scale = 0, balance = 0;
    for (const QString& line : logText().split(u'\n', Qt::SkipEmptyParts)) {
        const QString rest = line.mid(9);
        if (rest.contains(QStringLiteral("12.345 kg"))) {
            EXPECT_TRUE(rest.startsWith(QStringLiteral("Scale: "))) << line.toStdString();
            ++scale;
        } else if (rest.contains(QStringLiteral("45.678 g"))) {
            EXPECT_TRUE(rest.startsWith(QStringLiteral("Balance: "))) << line.toStdString();
            ++balance;
        }
    }
    EXPECT_GT(scale, 0);
    EXPECT_GT(balance, 0);
    // The typed part of a named line is the value, not the name.
    for (int i = w.eventLog()->lineCount() - 1; i >= 0; --i) {
        const auto pieces = w.eventLog()->pieces(i);
        if (!w.eventLog()->lineText(i).contains(QStringLiteral("45.678 g")))
            continue;
        bool typed = false;
        for (const auto& piece : pieces)
            if (piece.style == u"typed") {
                EXPECT_EQ(piece.text, QStringLiteral("45.678"));
                typed = true;
            }
        EXPECT_TRUE(typed);
        break;
    }

    // One stopped by its row: the other goes on.
    rowButton->click();
    ASSERT_TRUE(waitState(w, 0, State::Idle));
    EXPECT_EQ(w.presenterOf(1)->state(), State::Connected);
    const int before = logText().count(QStringLiteral("45.678 g"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return logText().count(QStringLiteral("45.678 g")) > before + 2; }, 5000));
    // Stop all.
    button(w, "stopAllButton")->click();
    ASSERT_TRUE(waitState(w, 1, State::Idle));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.tabs()->count() == 7; }, 5000));
    EXPECT_EQ(w.tabs()->tabText(1), QStringLiteral("&Input \u2014 Balance"));
    EXPECT_EQ(w.trayToolTip(), QStringLiteral("Vornal: 0 of 2 instruments connected"));
    EXPECT_EQ(table(w)->topLevelItem(1)->text(2), tr("profile.state.idle"));
    // Removing a running instrument stops it first.
    w.startAll();
    ASSERT_TRUE(waitState(w, 0, State::Connected));
    ASSERT_TRUE(waitState(w, 1, State::Connected));
    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    ASSERT_TRUE(w.removeProfile(0));
    EXPECT_EQ(w.profileCount(), 1);
    EXPECT_EQ(w.presenterOf(0)->state(), State::Connected);
    EXPECT_EQ(w.findChildren<worker::Connection*>().size(), 1);
    // With one left, new lines carry no name again.
    const int lines = w.eventLog()->lineCount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.eventLog()->lineCount() > lines + 2; }, 5000));
    EXPECT_TRUE(
        w.eventLog()->lineText(w.eventLog()->lineCount() - 1).mid(9).startsWith(QStringLiteral("<10>ST,GS")))
        << w.eventLog()->lineText(w.eventLog()->lineCount() - 1).toStdString();
}

TEST_F(StationWindowTest, TheTabsEditTheSelectedInstrumentAndKeepTheProgramWideSettings) {
    auto& w = openStation();
    auto* terminator = qobject_cast<QComboBox*>(w.control(QStringLiteral("outputTerminatorBox")));
    auto* keyboard = qobject_cast<QComboBox*>(w.control(QStringLiteral("keyboardTypeBox")));
    ASSERT_NE(terminator, nullptr);
    ASSERT_NE(keyboard, nullptr);
    const QString first = w.profileConfig(0).getByKey(QStringLiteral("outputTerminator"));
    const int other = terminator->currentIndex() == 0 ? 1 : 0;
    // The selected one (Balance) gets another terminator and another keyboard type.
    terminator->setCurrentIndex(other);
    const QString chosen = terminator->itemData(other).toString();
    ASSERT_NE(chosen, first);
    const int otherKeyboard = keyboard->currentIndex() == 0 ? 1 : 0;
    keyboard->setCurrentIndex(otherKeyboard);
    const QString keyboardChosen = keyboard->itemData(otherKeyboard).toString();
    // The first shows its own terminator, and the same keyboard type (a program-wide setting).
    w.selectProfile(0);
    EXPECT_EQ(terminator->currentData().toString(), first);
    EXPECT_EQ(w.config().getByKey(QStringLiteral("outputTerminator")), first);
    EXPECT_EQ(keyboard->currentData().toString(), keyboardChosen);
    EXPECT_EQ(w.tabs()->tabText(3), QStringLiteral("&Output \u2014 ") + w.profileName(0));
    // Back on Balance: its choice is there, and it is what its start uses.
    w.selectProfile(1);
    EXPECT_EQ(terminator->currentData().toString(), chosen);
    EXPECT_EQ(w.profileConfig(1).getByKey(QStringLiteral("outputTerminator")), chosen);
    EXPECT_EQ(w.profileConfig(0).getByKey(QStringLiteral("outputTerminator")), first);
    EXPECT_EQ(w.profileConfig(0).getByKey(QStringLiteral("keyboardType")), keyboardChosen);
    // A save is due.
    EXPECT_TRUE(w.saveNecessary());
    EXPECT_FALSE(w.saveNecessary());
}

TEST_F(StationWindowTest, EveryInstrumentIsSavedExportedAndLoadedAgain) {
    // A station of one writes the record as before: nothing of profiles in the store.
    open({}, false, kTwoPorts);
    closeWindow();
    EXPECT_FALSE(storeText().contains(QStringLiteral("profile"))) << storeText().toStdString();
    window_.reset();

    auto& w = openStation();
    auto* terminator = qobject_cast<QComboBox*>(w.control(QStringLiteral("outputTerminatorBox")));
    const int other = terminator->currentIndex() == 0 ? 1 : 0;
    terminator->setCurrentIndex(other);
    const QString chosen = terminator->itemData(other).toString();
    const QString first = w.profileConfig(0).getByKey(QStringLiteral("outputTerminator"));
    ASSERT_NE(chosen, first);
    ASSERT_TRUE(w.renameProfile(0, QStringLiteral("Scanner")).isEmpty());
    // The export carries both.
    const QString file = dir_.filePath(QStringLiteral("station.xml"));
    SettingsTransferDialogs::setFileChooser([file](QWidget*, bool, const QString&) { return file; });
    w.exportSettingsButtonActionPerformed();
    SettingsTransferDialogs::setFileChooser({});
    const auto shown = dialogs();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.back().kind, MessageBoxes::Kind::Information) << shown.back().text.toStdString();
    QFile exported(file);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(exported.readAll());
    EXPECT_TRUE(xml.contains(QStringLiteral("Balance")) && xml.contains(QStringLiteral("Scanner")) &&
                xml.contains(QString::fromLatin1(config::SettingsXml::STATION_INSTRUCTION)))
        << xml.toStdString();
    closeWindow();
    window_.reset();

    // The next window has both, each with its own settings, the first shown.
    auto& again = open({}, false, kTwoPorts);
    ASSERT_EQ(again.profileCount(), 2);
    EXPECT_EQ(again.profileName(0), QStringLiteral("Scanner"));
    EXPECT_EQ(again.profileName(1), QStringLiteral("Balance"));
    EXPECT_EQ(again.selectedProfile(), 0);
    EXPECT_EQ(again.profileConfig(0).getPort(), QStringLiteral("SIM1"));
    EXPECT_EQ(again.profileConfig(1).getPort(), QStringLiteral("SIM2"));
    EXPECT_EQ(again.profileConfig(0).getByKey(QStringLiteral("outputTerminator")), first);
    EXPECT_EQ(again.profileConfig(1).getByKey(QStringLiteral("outputTerminator")), chosen);
    EXPECT_EQ(again.tabs()->tabText(1), QStringLiteral("&Input \u2014 Scanner"));
    EXPECT_EQ(table(again)->topLevelItemCount(), 2);
    EXPECT_TRUE(dialogs().isEmpty());
}

// Every text of the station is there in German, and is German.
TEST_F(StationWindowTest, TheStationsTextsAreTranslated) {
    const auto& en = util::ResourceBundle::get(QStringLiteral("vornal.Vornal"), QStringLiteral("en"));
    const auto& de = util::ResourceBundle::get(QStringLiteral("vornal.Vornal"), QStringLiteral("de"));
    int checked = 0;
    for (const auto& [bundle, keys] : VororaZeZovFrame2::requiredKeys(QStringLiteral("vornal.Vornal"))) {
        for (const QString& key : keys) {
            if (!key.startsWith(QStringLiteral("start.profiles.")) &&
                !key.startsWith(QStringLiteral("profile.")) &&
                !key.startsWith(QStringLiteral("tray.station.")))
                continue;
            ++checked;
            ASSERT_TRUE(de.contains(key)) << key.toStdString();
            EXPECT_NE(de.getString(key), en.getString(key)) << key.toStdString();
        }
    }
    EXPECT_GE(checked, 25);
}

} // namespace
} // namespace vornal::test
