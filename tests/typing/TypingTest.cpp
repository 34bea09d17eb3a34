// Types through Keybot and the X11 backend into a text field of this process and compares what
// arrived, on the X layouts us, fr and de. Needs an X server with XTEST (DISPLAY); skipped without.
#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/WeightWorkerView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

using namespace vornal;
using worker::Keybot;
using KT = config::ConfigHelper::KeyboardType;
using MT = config::ConfigHelper::KeyMapType;

namespace {

class Problems : public worker::WeightWorkerView {
public:
    void logEvent(const QString&) override {}
    void logImportantEvent(const QString& t) override {
        std::lock_guard lock(m_);
        lines_ += t;
    }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}
    QStringList lines() const {
        std::lock_guard lock(m_);
        return lines_;
    }

private:
    mutable std::mutex m_;
    QStringList lines_;
};

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

QString printableAscii() {
    QString s;
    for (char c = 0x20; c <= 0x7E; ++c)
        s += QLatin1Char(c);
    return s;
}

class TypingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        // Dead keys (the US International and AZERTY/German accents followed by SPACE) are completed by
        // the receiver's input method. Qt's own compose method does it like a desktop's; with
        // QT_IM_MODULE=none the accent vanishes and only the space arrives, so the method is fixed here.
        qputenv("QT_IM_MODULE", "compose");
        static int argc = 1;
        static char name[] = "typing_x11";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        edit_ = new QPlainTextEdit;
        edit_->resize(900, 200);
        edit_->show();
    }
    static void TearDownTestSuite() {
        if (!app_)
            return;
        setLayout("us");
        delete edit_;
        edit_ = nullptr;
    }

    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "no X display (DISPLAY is not set)";
        try {
            platform::createKeyInjector({});
        } catch (const std::exception& e) {
            GTEST_SKIP() << e.what();
        }
    }

    static void setLayout(const char* layout) {
        const std::string cmd = std::string("setxkbmap ") + layout;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        spin(300); // the receiver reloads its keymap
    }

    // Types `text` as one value and returns what the field received.
    QString type(KT layout, MT type, const QString& text, int start = 0, int end = 0, int delay = 2) {
        edit_->clear();
        edit_->activateWindow();
        edit_->setFocus();
        spin(100);
        EXPECT_TRUE(edit_->hasFocus());
        problems_ = std::make_unique<Problems>();
        Keybot bot(delay, start, end, 0, 0, layout, type, problems_.get());
        EXPECT_EQ(bot.capsLockOn(), false);
        bot.start();
        bot.add(text);
        QElapsedTimer t;
        t.start();
        while (!bot.waitUntilIdle(5) && t.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        spin(150);
        bot.stop();
        EXPECT_TRUE(problems_->lines().isEmpty()) << problems_->lines().join(u'\n').toStdString();
        return edit_->toPlainText();
    }

    static inline QApplication* app_ = nullptr;
    static inline QPlainTextEdit* edit_ = nullptr;
    std::unique_ptr<Problems> problems_;
};

} // namespace

TEST_F(TypingTest, EveryPrintableCharacterOnEachLayout) {
    struct Case {
        const char* xLayout;
        KT layout;
    };
    const Case cases[] = {{"us", KT::QUERTY}, {"us", KT::US_INTERNATIONAL},
                          {"fr", KT::AZERTY}, {"de", KT::GERMAN},
                          {"us", KT::ALL},    {"fr", KT::ALL},
                          {"de", KT::ALL}};
    for (const Case& c : cases) {
        setLayout(c.xLayout);
        EXPECT_EQ(type(c.layout, MT::ALPHANUMERIC_COMPLETE, printableAscii()).toStdString(),
                  printableAscii().toStdString())
            << c.layout.name().toStdString() << " on X layout " << c.xLayout;
    }
}

TEST_F(TypingTest, NumericValueWithStartKeyAndTerminator) {
    setLayout("de");
    // Start TAB, value, terminator ENTER: the text field shows them as a tab and a line break.
    EXPECT_EQ(type(KT::GERMAN, MT::NUMERIC, QStringLiteral("-12,345"), 9, 10).toStdString(), "\t-12,345\n");
    setLayout("fr");
    EXPECT_EQ(type(KT::AZERTY, MT::NUMERIC, QStringLiteral("+0.5"), 0, 44).toStdString(), "+0.5,");
    setLayout("us");
}
