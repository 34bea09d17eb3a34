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

// Expressions x lines with the results of the instruments' dialect (java.util.regex rules): the first
// match anywhere in the line, or none. Lines keep their terminator, as the reading workers pass them on.
TEST(RegexDialect, AnchorsDotsFlagsAndEscapesGiveTheDialectsResults) {
    struct Row {
        const char16_t* pattern;
        const char16_t* line;
        const char16_t* match; // nullptr: no match
    };
    const Row rows[] = {
        // "$" without multiline: the end, or before a final terminator (CR LF counts as one).
        {u"(\\d+) kg$", u"12 kg\r", u"12 kg"},
        {u"(\\d+) kg$", u"12 kg\r\n", u"12 kg"},
        {u"(\\d+) kg$", u"12 kg\n", u"12 kg"},
        {u"(\\d+) kg$", u"12 kg\x85", u"12 kg"},
        {u"(\\d+) kg$", u"12 kg\u2028", u"12 kg"},
        {u"(\\d+) kg$", u"12 kg\u2029", u"12 kg"},
        {u"(\\d+) kg$", u"12 kg", u"12 kg"},
        {u"(\\d+) kg$", u"12 kg\r\r", nullptr}, // two terminators: not the final one
        {u"(\\d+) kg$", u"12 kg\n\r", nullptr},
        {u"(\\d+) kg$", u"12 kg x\r", nullptr},
        {u"\\r$", u"a\r\n", nullptr}, // never between CR and LF
        {u"^(.*)$", u"+  12.340 g\r\n", u"+  12.340 g"},
        {u"^(.*)$", u"12\r34\r", nullptr},
        // "\Z" is "$" without multiline, also under (?m); "\z" is the very end.
        {u"kg\\Z", u"12 kg\r\n", u"kg"},
        {u"(?m)1\\Z", u"1\r2", nullptr},
        {u"kg\\z", u"12 kg\r", nullptr},
        {u"kg\\z", u"12 kg", u"kg"},
        // Multiline: "$" before every terminator, "^" after every one, never between CR and LF.
        {u"(?m)^(.*)$", u"12\r34\r", u"12"},
        {u"(?m)a$", u"a\u2028b", u"a"},
        {u"(?m)1$", u"1\r\n2", u"1"},
        {u"(?m)\\r$", u"a\r\nb", nullptr},
        {u"(?m)^x", u"a\rx", u"x"},
        {u"(?m)^\\d", u"a\r\n5", u"5"},
        {u"(?m)^\\n", u"a\r\n", nullptr},
        {u"(?m:a$)|b$", u"a\rb\r", u"a"},
        {u"(?m:x)a$", u"xa\rb", nullptr}, // multiline only inside its group
        // Dot-all: "(?s)" to the end of its group, "(?s:...)" inside its group only.
        {u"(?s)^(.+)$", u"12\r\n", u"12\r\n"},
        {u"(?s:a.)b.", u"a\rbx", u"a\rbx"},
        {u"(?s:a.)b.", u"a\rb\r", nullptr},
        {u"((?s)a.)b.", u"a\rb\r", nullptr},
        {u"(?s)a.(?-s)b.", u"a\rb\r", nullptr},
        {u"(?s)a.(?-s)b.", u"a\rbx", u"a\rbx"},
        {u"(?is)A.", u"a\x85", u"a\x85"},
        // "\uXXXX", also in classes and as a surrogate pair.
        {u"\\u0041\\u00e9", u"xA\u00e9", u"A\u00e9"},
        {u"[\\u0030-\\u0039]+", u"x123", u"123"},
        {u"\\uD83D\\uDE00", u"a\U0001F600", u"\U0001F600"},
        // Quoted, escaped, in a class or in a comment: no anchor, no translation.
        {u"\\Qa$.\\E", u"a$.", u"a$."},
        {u"a\\$", u"a$\r", u"a$"},
        {u"[$.]+", u"x$.", u"$."},
        {u"(?#c.$)a$", u"a\r", u"a"},
        {u"\\\\u0041", u"\\u0041", u"\\u0041"}, // an escaped backslash, then text
        {u"\\c.", u"n", u"n"},                  // "." with bit 6 flipped
    };
    for (const Row& r : rows) {
        const QString pattern = QString::fromUtf16(r.pattern);
        const QString line = QString::fromUtf16(r.line);
        const QRegularExpression re = compileInstrumentPattern(pattern);
        ASSERT_TRUE(re.isValid()) << pattern.toStdString() << ": " << re.errorString().toStdString();
        const QRegularExpressionMatch m = re.match(line);
        const std::string where = pattern.toStdString() + " on " + line.toUtf8().toHex(' ').toStdString();
        if (!r.match)
            EXPECT_FALSE(m.hasMatch()) << where << " matched " << m.captured(0).toStdString();
        else
            EXPECT_EQ(m.captured(0), QString::fromUtf16(r.match)) << where;
    }
    // "\u" needs four hex digits, as in the dialect.
    EXPECT_FALSE(compileInstrumentPattern("\\u004").isValid());
    EXPECT_FALSE(compileInstrumentPattern("\\u004g").isValid());
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
