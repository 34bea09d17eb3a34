// "{0}" placeholders and quoting as the standard message format handles them.
#include "vornal/util/MessageFormat.h"

#include <gtest/gtest.h>

namespace {

using vornal::util::MessageFormat;

TEST(MessageFormat, PlaceholdersAndQuotes) {
    EXPECT_EQ(MessageFormat::format("Port {0} opened at {1} bit/s", {"COM3", "9600"}),
              "Port COM3 opened at 9600 bit/s");
    EXPECT_EQ(MessageFormat::format("{1}{0}{1}", {"a", "b"}), "bab");
    EXPECT_EQ(MessageFormat::format("It''s {0}", {"late"}), "It's late");
    EXPECT_EQ(MessageFormat::format("'{0}' is {0}", {"x"}), "{0} is x");
    EXPECT_EQ(MessageFormat::format("'it''s {0}' {0}", {"x"}), "it's {0} x");
    EXPECT_EQ(MessageFormat::format("no args", {}), "no args");
    EXPECT_EQ(MessageFormat::format("", {"x"}), "");
    EXPECT_EQ(MessageFormat::format("{0,number,integer} items", {"12"}), "12 items");
    EXPECT_EQ(MessageFormat::format("a } b", {}), "a } b");
}

TEST(MessageFormat, FaultyPatternsStayReadable) {
    EXPECT_EQ(MessageFormat::format("{2} of {0}", {"a"}), "{2} of a"); // no such argument
    EXPECT_EQ(MessageFormat::format("{x} and {0}", {"a"}), "{x} and a");
    EXPECT_EQ(MessageFormat::format("open {0", {"a"}), "open {0"); // unterminated
    EXPECT_EQ(MessageFormat::format("quote ' never closed {0}", {"a"}), "quote  never closed {0}");
    EXPECT_EQ(MessageFormat::format("{0}", {"{1}"}), "{1}"); // arguments are not formatted again
}

TEST(MessageFormat, VariadicArguments) {
    EXPECT_EQ(MessageFormat::format(QString("{0}: {1} of {2}"), QString("Line"), 3, 12L), "Line: 3 of 12");
    EXPECT_EQ(MessageFormat::format(QString("{0}{1}"), "a", QChar(u'b')), "ab");
}

} // namespace
