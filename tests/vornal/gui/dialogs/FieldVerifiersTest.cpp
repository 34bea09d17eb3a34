#include "dialogs/FieldVerifiers.h"
#include "MessageBoxes.h"
#include "TestUtil.h"
#include "dialogs/DialogTexts.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace vornal;

namespace {

struct Case {
    const char* text;
    bool accepted;
};

template <class Verifier> void expectRule(std::initializer_list<Case> cases, const char* name) {
    QLineEdit field;
    Verifier verifier(&field, nullptr);
    for (const Case& c : cases) {
        field.setText(QString::fromUtf8(c.text));
        EXPECT_EQ(verifier.verify(&field), c.accepted) << name << " \"" << c.text << "\"";
    }
}

// A window with two tabs: the verified field on the second tab, a button on the first.
struct Window {
    QTabWidget tabs;
    QWidget* first = new QWidget;
    QWidget* second = new QWidget;
    QPushButton* button = new QPushButton(QStringLiteral("elsewhere"), first);
    QLineEdit* field = new QLineEdit(second);
    std::optional<QString> stored;
    FieldVerifier* verifier = nullptr;

    template <class Verifier> void attach() {
        auto* l1 = new QVBoxLayout(first);
        l1->addWidget(button);
        auto* l2 = new QVBoxLayout(second);
        l2->addWidget(field);
        tabs.addTab(first, QStringLiteral("Start"));
        tabs.addTab(second, QStringLiteral("Processing"));
        verifier = new Verifier(
            field, [this](const QString& t) { stored = t; }, &tabs, second);
    }
};

class FieldVerifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        MessageBoxes::takeRecords();
        FieldVerifier::setClosing(false);
        FieldVerifier::setClosingCheck(nullptr);
    }
    void TearDown() override {
        FieldVerifier::setClosing(false);
        FieldVerifier::setClosingCheck(nullptr);
    }
};

} // namespace

TEST_F(FieldVerifierTest, TextRulesOfTheFiveFields) {
    expectRule<MathOperandTextFieldUpdate>({{"", true},
                                            {"0", false},
                                            {"1000", true},
                                            {"0,4536", true},
                                            {"0.4536", true},
                                            {"-2.5", true},
                                            {"0.001", true},
                                            {"0.0", false},
                                            {"0,00", false},
                                            {"-0", false},
                                            {"0e3", false},
                                            {"2e-3", true},
                                            {"1,2,3", false},
                                            {"abc", false},
                                            {" 5", false}},
                                           "operand");
    expectRule<DecimalTextFieldUpdate>(
        {{"", true}, {"0", true}, {"7", true}, {"8", false}, {"-1", false}, {"2.0", false}, {"x", false}},
        "decimal places");
    expectRule<EditNumCharactersTextFieldUpdate>(
        {{"", true}, {"0", false}, {"1", true}, {"99", true}, {"100", false}}, "edit count");
    expectRule<EveryXValuesTextFieldUpdate>(
        {{"", true}, {"1", false}, {"2", true}, {"99", true}, {"100", false}}, "every x values");
    expectRule<RemoveCharactersTextFieldUpdate>(
        {{"", true}, {"kg g", true}, {"\xc3\xbf", true}, {"\xc4\x80", false}, {"\xe2\x82\xac", false}},
        "remove characters");
}

TEST_F(FieldVerifierTest, AcceptedTextIsStored) {
    Window w;
    w.attach<DecimalTextFieldUpdate>();
    w.field->setText(QStringLiteral("7"));
    EXPECT_TRUE(w.verifier->shouldYieldFocus(w.field));
    EXPECT_EQ(w.stored, QStringLiteral("7"));
    w.field->clear();
    EXPECT_TRUE(w.verifier->shouldYieldFocus(w.field));
    EXPECT_EQ(w.stored, QString());
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());
}

TEST_F(FieldVerifierTest, OperandWithDecimalCommaIsStoredWithPoint) {
    Window w;
    w.attach<MathOperandTextFieldUpdate>();
    w.field->setText(QStringLiteral("0,4536"));
    EXPECT_TRUE(w.verifier->shouldYieldFocus(w.field));
    EXPECT_EQ(w.stored, QStringLiteral("0.4536"));
    EXPECT_EQ(w.field->text(), QStringLiteral("0.4536"));
}

TEST_F(FieldVerifierTest, RefusedTextShowsMessageEmptiesFieldAndSelectsItsTabAgain) {
    Window w;
    w.attach<EveryXValuesTextFieldUpdate>();
    w.tabs.setCurrentIndex(0);
    w.field->setText(QStringLiteral("1"));
    EXPECT_FALSE(w.verifier->shouldYieldFocus(w.field));
    EXPECT_FALSE(w.stored.has_value()) << "the setting keeps its last valid value";
    EXPECT_TRUE(w.field->text().isEmpty());
    const auto records = MessageBoxes::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].kind, MessageBoxes::Kind::Error);
    EXPECT_EQ(records[0].title, DialogTexts::text(QStringLiteral("error")));
    EXPECT_EQ(records[0].text, DialogTexts::text(QStringLiteral("error.edit.everyXValues")));
    EXPECT_FALSE(records[0].text.startsWith(u'[')) << "text missing from the bundle";
    // The tab is selected by a posted task, after the tab change that caused the check.
    EXPECT_TRUE(QTest::qWaitFor([&] { return (w.tabs.currentIndex()) == (1); }));
}

TEST_F(FieldVerifierTest, TabIsFoundByItsPageWhenTabsWereRemoved) {
    Window w;
    w.attach<MathOperandTextFieldUpdate>();
    auto* extra = new QWidget;
    w.tabs.insertTab(0, extra, QStringLiteral("extra"));
    w.tabs.setCurrentIndex(0);
    w.field->setText(QStringLiteral("0"));
    EXPECT_FALSE(w.verifier->shouldYieldFocus(w.field));
    EXPECT_TRUE(QTest::qWaitFor([&] { return (w.tabs.currentWidget()) == (w.second); }));
}

TEST_F(FieldVerifierTest, LeavingTheFieldRunsTheCheck) {
    Window w;
    w.attach<DecimalTextFieldUpdate>();
    w.tabs.show();
    w.tabs.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.tabs));
    w.tabs.setCurrentIndex(1);
    w.field->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.field->hasFocus(); }));
    QTest::keyClicks(w.field, QStringLiteral("8"));
    // The user clicks the other tab: the field loses the focus.
    w.tabs.setCurrentIndex(0);
    w.button->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(test::waitForRecords(1).size(), 1);
    EXPECT_TRUE(w.field->text().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return (w.tabs.currentIndex()) == (1); }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.field->hasFocus(); }));

    // A valid text moves on without a word.
    QTest::keyClicks(w.field, QStringLiteral("3"));
    w.tabs.setCurrentIndex(0);
    w.button->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(QTest::qWaitFor([&] { return (w.stored) == (std::optional<QString>(QStringLiteral("3"))); }));
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());
    EXPECT_EQ(w.tabs.currentIndex(), 0);
}

TEST_F(FieldVerifierTest, SilentWhileTheWindowCloses) {
    Window w;
    w.attach<EditNumCharactersTextFieldUpdate>();
    w.tabs.setCurrentIndex(0);
    FieldVerifier::setClosing(true);
    w.field->setText(QStringLiteral("100"));
    EXPECT_FALSE(w.verifier->shouldYieldFocus(w.field));
    EXPECT_TRUE(w.field->text().isEmpty());
    QTest::qWait(20);
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());
    EXPECT_EQ(w.tabs.currentIndex(), 0);

    // The window can hand over its own flag.
    FieldVerifier::setClosing(false);
    bool windowClosing = true;
    FieldVerifier::setClosingCheck([&] { return windowClosing; });
    w.field->setText(QStringLiteral("0"));
    EXPECT_FALSE(w.verifier->shouldYieldFocus(w.field));
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());
    windowClosing = false;
    w.field->setText(QStringLiteral("0"));
    EXPECT_FALSE(w.verifier->shouldYieldFocus(w.field));
    EXPECT_EQ(MessageBoxes::takeRecords().size(), 1);
}
