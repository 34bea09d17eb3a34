// The window's parts on their own: the presenter between the window and its connection, and the
// helpers the tabs share (bringing a tab to the front, Alt letters).
#include "GuiTestMain.h"

#include "BrokerBox.h"
#include "ConnectionPresenter.h"
#include "EventLog.h"
#include "TabSupport.h"
#include "vornal/publish/Publisher.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

namespace vornal::test {
namespace {

using worker::DataLine;

class ConnectionPresenterTest : public ::testing::Test {
protected:
    const util::ResourceBundle& bundle = util::ResourceBundle::get(QStringLiteral("vornal.Vornal"));
    QWidget window;
    EventLog* log = new EventLog(&window);
    QLabel* status = new QLabel(&window);
    ConnectionPresenter presenter{&window, bundle, log, status};
};

// Without a connection: lines are logged and kept for the expression dialog, but bring no line count
// into the status (a line count would look like a connection that works); Start/Stop finds nothing to
// stop.
TEST_F(ConnectionPresenterTest, LinesWithoutAConnectionAreLoggedAndKeptButNotCounted) {
    presenter.showStatusIdle();
    const QString idle = status->text();
    EXPECT_EQ(idle, bundle.getString(QStringLiteral("VororaZeZovFrame2.statusJLabel.text")));
    for (int i = 0; i < ConnectionPresenter::kLastReceivedLines + 3; ++i) {
        const DataLine received(QStringLiteral("raw %1\r\n").arg(i), QString::number(i), i + 1,
                                DataLine::now(), false);
        const DataLine processed(QStringLiteral("raw %1\r\n").arg(i), QStringLiteral("x"), i + 1,
                                 DataLine::now(), false);
        presenter.showLine(processed, received);
    }
    const QStringList kept = presenter.lastReceivedLines();
    ASSERT_EQ(kept.size(), ConnectionPresenter::kLastReceivedLines);
    EXPECT_EQ(kept.first(), QStringLiteral("raw 3\r\n"));
    EXPECT_EQ(kept.last(), QStringLiteral("raw 22\r\n"));
    QTest::qWait(50);
    QString logged;
    for (int i = 0; i < log->lineCount(); ++i)
        logged += log->lineText(i) + u'\n';
    EXPECT_TRUE(logged.contains(QStringLiteral("raw 0"))) << logged.toStdString();
    EXPECT_TRUE(logged.contains(QStringLiteral("raw 22"))) << logged.toStdString();
    EXPECT_EQ(status->text(), idle);
    EXPECT_FALSE(presenter.isConnected());
    EXPECT_FALSE(presenter.isActive());
    EXPECT_FALSE(presenter.canRequest());
    EXPECT_FALSE(presenter.stopOrBusy()) << "nothing runs: a click means Start";
    presenter.request();           // nothing to ask
    presenter.setTypingHeld(true); // nothing to hold
    EXPECT_EQ(presenter.connection(), nullptr);
}

// Connected and idle say so in the status, in the user's language.
TEST_F(ConnectionPresenterTest, TheIdleStatusAndTheConnectedStatusComeFromTheBundle) {
    presenter.showConnectedStatus(true);
    EXPECT_EQ(status->text(), bundle.getString(QStringLiteral("switch.to.target.application")));
    presenter.showConnectedStatus(false);
    EXPECT_EQ(status->text(), bundle.getString(QStringLiteral("VororaZeZovFrame2.statusJLabel.text")));
}

// showTab brings a page's tab to the front; a page taken out of the tabs (while connected) stays out.
TEST(TabSupportTest, ShowTabBringsThePageForwardUnlessItIsOutOfTheTabs) {
    QTabWidget tabs;
    auto* first = new QWidget;
    auto* second = new QWidget;
    tabs.addTab(first, QStringLiteral("one"));
    tabs.addTab(second, QStringLiteral("two"));
    showTab(second);
    EXPECT_EQ(tabs.currentWidget(), second);
    tabs.setCurrentIndex(0);
    tabs.removeTab(1);
    showTab(second);
    EXPECT_EQ(tabs.currentWidget(), first);
    EXPECT_EQ(tabs.count(), 1);
    showTab(nullptr);
    QWidget loose;
    showTab(&loose);
    delete second;
}

// Alt letters: none of the reserved ones, each at most once, captions with the same first letter get
// different ones, the kept caption stays as it is, and an ampersand of a caption stays a character.
TEST(TabSupportTest, AltLettersAreUniqueAndAvoidTheReservedOnes) {
    QWidget panel;
    auto* layout = new QVBoxLayout(&panel);
    auto* kept = new QPushButton(QStringLiteral("Start"), &panel);
    auto* save = new QPushButton(QStringLiteral("Save"), &panel);
    auto* send = new QPushButton(QStringLiteral("Send"), &panel);
    auto* sound = new QCheckBox(QStringLiteral("Sound"), &panel);
    auto* tools = new QPushButton(QStringLiteral("Tools"), &panel);
    for (QWidget* w : {static_cast<QWidget*>(kept), static_cast<QWidget*>(save), static_cast<QWidget*>(send),
                       static_cast<QWidget*>(sound), static_cast<QWidget*>(tools)})
        layout->addWidget(w);
    assignMnemonics(&panel, QStringLiteral("T"), kept);
    EXPECT_EQ(kept->text(), QStringLiteral("Start"));
    QStringList letters;
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(save), static_cast<QAbstractButton*>(send),
                               static_cast<QAbstractButton*>(sound), static_cast<QAbstractButton*>(tools)}) {
        const QString t = b->text();
        const qsizetype at = t.indexOf(u'&');
        ASSERT_GE(at, 0) << t.toStdString();
        letters << t.mid(at + 1, 1).toUpper();
    }
    EXPECT_FALSE(letters.contains(QStringLiteral("T"))) << letters.join(u',').toStdString();
    EXPECT_EQ(QSet<QString>(letters.begin(), letters.end()).size(), letters.size())
        << letters.join(u',').toStdString();
    EXPECT_EQ(TabTexts::withMnemonic(QStringLiteral("Save & quit"), u'q'), QStringLiteral("Save && &quit"));
    EXPECT_EQ(TabTexts::withMnemonic(QStringLiteral("Save"), QChar()), QStringLiteral("Save"));
    EXPECT_EQ(TabTexts::withMnemonic(QStringLiteral("Save"), u'x'), QStringLiteral("Save"));
}

// The broker group: settings round-trip through their controls, a bad broker address is refused with
// the reason and the control shows the setting again; the password field writes the per-user file
// (mode 0600) and keeps nothing, and no setting holds the password.
TEST(BrokerBoxTest, SettingsRoundTripAndThePasswordGoesOnlyToItsOwnFile) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    const util::ResourceBundle& bundle = util::ResourceBundle::get(QStringLiteral("vornal.Vornal"));
    BrokerBox box([&](const QString& key) { return bundle.getString(key); });
    config::Config c;
    c.setMqttBroker(QStringLiteral("mqtts://broker.example:8884"));
    c.setMqttQueueMaxBytes(3 * 1024 * 1024);
    c.setMqttRequests(true);
    for (const QString& key : BrokerBox::keys())
        box.fillSetting(key, c);
    auto* broker = box.findChild<QLineEdit*>(QStringLiteral("mqttBrokerTextField"));
    ASSERT_TRUE(broker);
    EXPECT_EQ(broker->text(), QStringLiteral("mqtts://broker.example:8884"));
    config::Config back;
    for (const QString& key : BrokerBox::keys())
        EXPECT_TRUE(box.storeSetting(key, back).isEmpty()) << key.toStdString();
    EXPECT_EQ(back.getMqttBroker(), c.getMqttBroker());
    EXPECT_EQ(back.getMqttQueueMaxBytes(), 3 * 1024 * 1024);
    EXPECT_TRUE(back.getMqttRequests());

    broker->setText(QStringLiteral("http://broker.example"));
    const QString why = box.storeSetting(QStringLiteral("mqttBroker"), back);
    EXPECT_TRUE(why.contains(QStringLiteral("mqtt://HOST"))) << why.toStdString();
    EXPECT_EQ(broker->text(), QStringLiteral("mqtts://broker.example:8884"));

    box.password()->setText(QStringLiteral("field-secret-42"));
    EXPECT_TRUE(box.storePassword().isEmpty());
    EXPECT_TRUE(box.password()->text().isEmpty());
    QFile stored(publish::Publisher::passwordStoreFile());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), QByteArray("field-secret-42"));
    EXPECT_FALSE(stored.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
    for (const QString& key : config::Config::keys())
        EXPECT_FALSE(back.getByKey(key).contains(QStringLiteral("field-secret-42"))) << key.toStdString();
    qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace vornal::test
