// The instruments' regular-expression dialect on top of QRegularExpression.
#include "vornal/config/RegexDialect.h"

#include <gtest/gtest.h>

namespace {

using namespace vornal::config;

QString dotClass() {
    return QStringLiteral("[^\\n\\r\\x{85}\\x{2028}\\x{2029}]");
}

TEST(RegexDialect, TranslatesOnlyBareDots) {
    EXPECT_EQ(translateInstrumentRegex("a.b"), "a" + dotClass() + "b");
    EXPECT_EQ(translateInstrumentRegex("^N.*?(x)"), "^N" + dotClass() + "*?(x)");
    EXPECT_EQ(translateInstrumentRegex("\\."), "\\.");                 // escaped dot
    EXPECT_EQ(translateInstrumentRegex("[.,]"), "[.,]");               // dot in a class
    EXPECT_EQ(translateInstrumentRegex("[\\].]"), "[\\].]");           // escaped "]" does not end the class
    EXPECT_EQ(translateInstrumentRegex("[].]."), "[].]" + dotClass()); // "]" first is a member
    EXPECT_EQ(translateInstrumentRegex("[^].]."), "[^].]" + dotClass());
    EXPECT_EQ(translateInstrumentRegex("[[:digit:].]."), "[[:digit:].]" + dotClass());
    EXPECT_EQ(translateInstrumentRegex("\\\\."), "\\\\" + dotClass()); // escaped backslash, bare dot
    EXPECT_EQ(translateInstrumentRegex("\\Q.\\E."), "\\Q.\\E" + dotClass());
    EXPECT_EQ(translateInstrumentRegex("(?s)a.b"), "(?s)a.b"); // dot-all: same in both dialects
    EXPECT_EQ(translateInstrumentRegex("(?i)a.b"), "(?i)a" + dotClass() + "b");
    EXPECT_EQ(translateInstrumentRegex("trailing\\"), "trailing\\");
    EXPECT_EQ(translateInstrumentRegex(""), "");
}

TEST(RegexDialect, DotStopsAtEveryLineTerminator) {
    const QRegularExpression re = compileInstrumentPattern("a.b");
    ASSERT_TRUE(re.isValid());
    EXPECT_TRUE(re.match("axb").hasMatch());
    EXPECT_TRUE(re.match(QString::fromUtf8("a\u00e9b")).hasMatch());
    for (const char16_t terminator : {u'\n', u'\r', u'\x85', u'\u2028', u'\u2029'})
        EXPECT_FALSE(re.match(QString("a") + QChar(terminator) + "b").hasMatch()) << int(terminator);
    EXPECT_TRUE(compileInstrumentPattern("a\\.b").match("a.b").hasMatch());
    EXPECT_FALSE(compileInstrumentPattern("a\\.b").match("axb").hasMatch());
    EXPECT_TRUE(compileInstrumentPattern("a[.]b").match("a.b").hasMatch());
    EXPECT_FALSE(compileInstrumentPattern("a[.]b").match("a\rb").hasMatch());
}

TEST(RegexDialect, AsciiShorthandsAndPresetSyntax) {
    // \d and \s stay ASCII: Arabic-Indic digits and a no-break space are not matched.
    EXPECT_FALSE(compileInstrumentPattern("^\\d$").match(QString::fromUtf8("\u0663")).hasMatch());
    EXPECT_FALSE(compileInstrumentPattern("^\\s$").match(QString::fromUtf8("\u00a0")).hasMatch());
    EXPECT_TRUE(compileInstrumentPattern("^\\ \\d$").match(" 7").hasMatch());
    // A "]" right after "[" is a member of the class.
    const QRegularExpression cls = compileInstrumentPattern("^([]a]+)$");
    EXPECT_EQ(cls.match("a]a").captured(1), "a]a");
    EXPECT_FALSE(compileInstrumentPattern("([0-9]+").isValid());
}

TEST(RegexDialect, WarnsAboutNestedClassesAndIntersections) {
    EXPECT_TRUE(instrumentRegexWarnings("([-+]?\\s*[0-9]*[\\.,]?[0-9]+)").isEmpty());
    EXPECT_TRUE(instrumentRegexWarnings("([] !\"#$%&'()*+,-./\\d:;<=>?@A-Z\\[\\\\^_`a-z{|}~]+)").isEmpty());
    EXPECT_TRUE(instrumentRegexWarnings("[[:alpha:]]").isEmpty());
    EXPECT_TRUE(instrumentRegexWarnings("a&&b").isEmpty());
    EXPECT_EQ(instrumentRegexWarnings("([a[b]]+)").size(), 1);
    EXPECT_EQ(instrumentRegexWarnings("([a-z&&[^x]]+)").size(), 2);
    EXPECT_EQ(instrumentRegexWarnings("([a-z&&b])").size(), 1);
}

} // namespace
