#include "MessageBoxes.h"
#include "dialogs/CustomRegExDialog.h"
#include "dialogs/DialogTexts.h"
#include "dialogs/IgnoreDialog.h"
#include "vornal/config/Config.h"
#include "vornal/util/ResourceBundle.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace vornal;
using Instrument = config::ConfigHelper::Instrument;

namespace {

QString t(const char* key) {
    return DialogTexts::text(QString::fromLatin1(key));
}

// Runs `act` on the modal dialog of type D once it is open.
template <class D> void whenOpen(std::function<void(D*)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

class OptionDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { MessageBoxes::takeRecords(); }
};

} // namespace

TEST_F(OptionDialogsTest, IgnoreDialogRefusesZeroAndNonNumbers) {
    IgnoreDialog dialog(nullptr, QStringLiteral("500"), QStringLiteral("0.1"));
    EXPECT_EQ(dialog.windowTitle(), t("IgnoreDialog.this.title"));
    EXPECT_EQ(dialog.okButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.timeLimitField()->text(), QStringLiteral("500"));
    dialog.show();
    const struct {
        const char* timeLimit;
        const char* difference;
    } refused[] = {{"0", "1"},  {"1", "0"},  {"1", "0,0"}, {"-5", ""},
                   {"1.5", ""}, {"abc", ""}, {"", "x"},    {"", "-1"}};
    for (const auto& r : refused) {
        dialog.timeLimitField()->setText(QString::fromLatin1(r.timeLimit));
        dialog.differenceField()->setText(QString::fromLatin1(r.difference));
        dialog.okButtonActionPerformed();
        const auto records = MessageBoxes::takeRecords();
        ASSERT_EQ(records.size(), 1) << r.timeLimit << " / " << r.difference;
        EXPECT_EQ(records[0].text, t("ignore.error"));
        EXPECT_EQ(records[0].title, t("error"));
        EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open";
        EXPECT_EQ(dialog.getIgnoreTimeLimit(), QStringLiteral("500")) << "result unchanged";
    }
}

TEST_F(OptionDialogsTest, IgnoreDialogStoresCommaDifferenceWithPoint) {
    config::Config config;
    config.setIgnoreTimeLimit(QStringLiteral("1000"));
    config.setIgnoreDifference(QString());
    whenOpen<IgnoreDialog>([](IgnoreDialog* d) {
        d->timeLimitField()->setText(QStringLiteral("1000"));
        d->differenceField()->setText(QStringLiteral("0,05"));
        d->okButton()->click();
    });
    EXPECT_TRUE(IgnoreDialog::edit(nullptr, config));
    EXPECT_EQ(config.getIgnoreDifference(), QStringLiteral("0.05"));
    EXPECT_EQ(config.getIgnoreTimeLimit(), QStringLiteral("1000"));
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());

    // Empty fields are accepted: no limit.
    whenOpen<IgnoreDialog>([](IgnoreDialog* d) {
        d->timeLimitField()->clear();
        d->differenceField()->clear();
        d->okButton()->click();
    });
    EXPECT_TRUE(IgnoreDialog::edit(nullptr, config));
    EXPECT_EQ(config.getIgnoreTimeLimit(), QString());
    EXPECT_EQ(config.getIgnoreDifference(), QString());
}

TEST_F(OptionDialogsTest, IgnoreDialogCancelAndCloseKeepTheSettings) {
    config::Config config;
    config.setIgnoreTimeLimit(QStringLiteral("250"));
    config.setIgnoreDifference(QStringLiteral("2"));
    whenOpen<IgnoreDialog>([](IgnoreDialog* d) {
        d->timeLimitField()->setText(QStringLiteral("9"));
        d->cancelButton()->click();
    });
    EXPECT_FALSE(IgnoreDialog::edit(nullptr, config));
    whenOpen<IgnoreDialog>([](IgnoreDialog* d) {
        d->differenceField()->setText(QStringLiteral("9"));
        d->close();
    });
    EXPECT_FALSE(IgnoreDialog::edit(nullptr, config));
    EXPECT_EQ(config.getIgnoreTimeLimit(), QStringLiteral("250"));
    EXPECT_EQ(config.getIgnoreDifference(), QStringLiteral("2"));
}

TEST_F(OptionDialogsTest, AcceptingThePresetExpressionCreatesNoCustomExpression) {
    config::Config config;
    config.setInstrument(Instrument::GENERIC);
    ASSERT_TRUE(config.getCustomRegEx().isEmpty());
    whenOpen<CustomRegExDialog>([](CustomRegExDialog* d) {
        EXPECT_EQ(d->regExTextArea()->toPlainText(), Instrument::GENERIC.getPattern());
        d->okButton()->click();
    });
    EXPECT_FALSE(CustomRegExDialog::edit(nullptr, config));
    EXPECT_TRUE(config.getCustomRegEx().isEmpty());

    // An edited expression is stored; the dialog starts from it next time.
    whenOpen<CustomRegExDialog>([](CustomRegExDialog* d) {
        d->regExTextArea()->setPlainText(QStringLiteral("N\\s+([0-9.]+)"));
        d->okButton()->click();
    });
    EXPECT_TRUE(CustomRegExDialog::edit(nullptr, config));
    EXPECT_EQ(config.getCustomRegEx(), QStringLiteral("N\\s+([0-9.]+)"));
    EXPECT_EQ(CustomRegExDialog::initialText(config), QStringLiteral("N\\s+([0-9.]+)"));

    // Cancel keeps it, even after editing.
    whenOpen<CustomRegExDialog>([](CustomRegExDialog* d) {
        d->regExTextArea()->setPlainText(QStringLiteral("(x)"));
        d->cancelButton()->click();
    });
    EXPECT_FALSE(CustomRegExDialog::edit(nullptr, config));
    EXPECT_EQ(config.getCustomRegEx(), QStringLiteral("N\\s+([0-9.]+)"));

    // Emptying the field returns to the instrument's expression.
    whenOpen<CustomRegExDialog>([](CustomRegExDialog* d) {
        d->regExTextArea()->clear();
        d->okButton()->click();
    });
    EXPECT_TRUE(CustomRegExDialog::edit(nullptr, config));
    EXPECT_TRUE(config.getCustomRegEx().isEmpty());
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());
}

TEST_F(OptionDialogsTest, InvalidExpressionKeepsTheDialogOpen) {
    CustomRegExDialog dialog(nullptr, QStringLiteral("([0-9]+)"), Instrument::GENERIC);
    EXPECT_EQ(dialog.windowTitle(), t("CustomRegExDialog.this.title"));
    dialog.show();
    for (const char* bad : {"([0-9]+", "[0-9]+)(", "[0-9]+", "(?:[0-9]+)", "(*)"}) {
        dialog.regExTextArea()->setPlainText(QString::fromLatin1(bad));
        dialog.okButtonActionPerformed();
        const auto records = MessageBoxes::takeRecords();
        ASSERT_EQ(records.size(), 1) << bad;
        EXPECT_EQ(records[0].text, t("invalid.expression"));
        EXPECT_EQ(records[0].title, t("error"));
        EXPECT_TRUE(dialog.isVisible()) << bad;
        EXPECT_EQ(dialog.getRegEx(), QStringLiteral("([0-9]+)"));
    }
}

TEST_F(OptionDialogsTest, ExtractionOfTheTestArea) {
    const QString generic = Instrument::GENERIC.getPattern();
    auto e = CustomRegExDialog::extract(generic, QStringLiteral("ST,GS,+  12.345 kg\r"));
    EXPECT_TRUE(e.found);
    EXPECT_EQ(e.value, QStringLiteral("+  12.345"));
    EXPECT_EQ(e.start, 6);

    e = CustomRegExDialog::extract(generic, QStringLiteral("no digits"));
    EXPECT_FALSE(e.found);
    EXPECT_EQ(e.reason, t("CustomRegExDialog.test.noMatch"));

    e = CustomRegExDialog::extract(QStringLiteral("a|(b)"), QStringLiteral("a"));
    EXPECT_FALSE(e.found);
    EXPECT_EQ(e.reason, t("CustomRegExDialog.test.groupNotMatched"));

    e = CustomRegExDialog::extract(QStringLiteral("[0-9]+"), QStringLiteral("12"));
    EXPECT_FALSE(e.found);
    EXPECT_EQ(e.reason, t("CustomRegExDialog.test.noGroup"));

    e = CustomRegExDialog::extract(QStringLiteral("(["), QStringLiteral("12"));
    EXPECT_FALSE(e.found);
    EXPECT_TRUE(e.reason.startsWith(t("CustomRegExDialog.test.invalid"))) << e.reason.toStdString();

    // The instruments' dot stops at a carriage return.
    e = CustomRegExDialog::extract(QStringLiteral("W(.*)"), QStringLiteral("W12\r"));
    EXPECT_EQ(e.value, QStringLiteral("12"));
}

TEST_F(OptionDialogsTest, TestAreaFollowsTheTyping) {
    CustomRegExDialog dialog(nullptr, QString(), Instrument::GENERIC,
                             {QStringLiteral("N    +0.120 kg\r\n"), QStringLiteral("garbage\r\n")});
    const auto area = [&] { return dialog.testArea()->toPlainText(); };
    // Empty: the instrument's own expression is shown at work.
    EXPECT_TRUE(area().contains(t("CustomRegExDialog.test.presetUsed")));
    EXPECT_TRUE(area().contains(QStringLiteral("+0.120"))) << area().toStdString();
    // Lines verbatim: runs of blanks are not collapsed.
    EXPECT_TRUE(area().contains(QStringLiteral("N    +0.120 kg<13><10>"))) << area().toStdString();
    EXPECT_TRUE(area().contains(QStringLiteral("<13><10>"))) << "control characters are shown as codes";
    EXPECT_TRUE(area().contains(t("CustomRegExDialog.test.noMatch")));

    QTest::keyClicks(dialog.regExTextArea(), QStringLiteral("N\\s+([-+][0-9."));
    EXPECT_TRUE(area().contains(t("CustomRegExDialog.test.invalid"))) << area().toStdString();
    QTest::keyClicks(dialog.regExTextArea(), QStringLiteral("]+)"));
    EXPECT_FALSE(area().contains(t("CustomRegExDialog.test.invalid")));
    EXPECT_TRUE(area().contains(QStringLiteral("\u2192 +0.120"))) << area().toStdString();

    dialog.regExTextArea()->setPlainText(QStringLiteral("[0-9]+"));
    EXPECT_TRUE(area().contains(t("CustomRegExDialog.test.noGroup")));
    dialog.regExTextArea()->setPlainText(QStringLiteral("([a[b]]+)"));
    EXPECT_TRUE(area().contains(t("CustomRegExDialog.test.warning"))) << area().toStdString();
}

TEST(DialogTextsTest, EveryKeyExistsInEnglishAndGerman) {
    for (const QString& language : {QString(), QStringLiteral("de")}) {
        const auto& bundle = util::ResourceBundle::get(DialogTexts::bundleName(), language);
        ASSERT_TRUE(bundle.isValid());
        for (const QString& key : DialogTexts::requiredKeys()) {
            ASSERT_TRUE(bundle.contains(key)) << key.toStdString();
            if (!language.isEmpty()) {
                EXPECT_FALSE(bundle.keysMissingInLanguage().contains(key)) << key.toStdString();
            }
        }
    }
}
