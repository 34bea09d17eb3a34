#include "vornal/decimal/Decimal.h"
#include "vornal/worker/Editor.h"
#include "vornal/worker/Remover.h"

#include <gtest/gtest.h>

using vornal::decimal::ProcessingError;
using vornal::worker::Editor;
using vornal::worker::Remover;
using Op = Editor::Operation;
using Pos = Editor::Position;

namespace {

std::string edit(Op op, Pos pos, int n, const QString& value) {
    return Editor(op, pos, n).edit(value).toStdString();
}

} // namespace

TEST(Editor, KeepsOrRemovesAtEitherEnd) {
    const QString v = QStringLiteral("12.5g");
    EXPECT_EQ(edit(Op::REMOVE, Pos::LAST, 1, v), "12.5");
    EXPECT_EQ(edit(Op::KEEP, Pos::LAST, 2, v), "5g");
    EXPECT_EQ(edit(Op::REMOVE, Pos::FIRST, 2, v), ".5g");
    EXPECT_EQ(edit(Op::KEEP, Pos::FIRST, 4, v), "12.5");
    EXPECT_EQ(edit(Op::KEEP, Pos::FIRST, 1, v), "1");
    EXPECT_EQ(edit(Op::REMOVE, Pos::LAST, 0, v), "12.5g");
}

TEST(Editor, CountsAtTheBounds) {
    const QString v = QStringLiteral("12");
    for (Pos pos : {Pos::FIRST, Pos::LAST}) {
        EXPECT_EQ(edit(Op::KEEP, pos, 2, v), "12");
        EXPECT_EQ(edit(Op::REMOVE, pos, 2, v), "");
        for (Op op : {Op::KEEP, Op::REMOVE})
            EXPECT_THROW(Editor(op, pos, 3).edit(v), ProcessingError);
    }
    try {
        Editor(Op::KEEP, Pos::FIRST, 3).edit(v);
    } catch (const ProcessingError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("\"12\""))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("only 2"))) << e.what();
    }
    // Nothing to edit: empty and null values pass unchanged, even with a count.
    EXPECT_TRUE(Editor(Op::KEEP, Pos::FIRST, 3).edit(QString()).isNull());
    EXPECT_EQ(edit(Op::KEEP, Pos::FIRST, 3, QStringLiteral("")), "");
    EXPECT_FALSE(Editor(Op::KEEP, Pos::FIRST, 0).active());
}

TEST(Editor, NeverSplitsASurrogatePair) {
    const QString v = QStringLiteral("A") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("B");
    EXPECT_EQ(Editor(Op::KEEP, Pos::FIRST, 2).edit(v),
              QStringLiteral("A") + QString::fromUcs4(U"\U0001F600"));
    EXPECT_EQ(Editor(Op::REMOVE, Pos::LAST, 2).edit(v), QStringLiteral("A"));
    EXPECT_EQ(Editor(Op::KEEP, Pos::LAST, 3).edit(v), v);
    EXPECT_THROW(Editor(Op::KEEP, Pos::LAST, 4).edit(v), ProcessingError);
}

TEST(Remover, DeletesEveryOccurrenceOfTheSet) {
    struct Case {
        QString set;
        QString value;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("gk "), QStringLiteral("12.5 kg"), QStringLiteral("12.5")},
        {QStringLiteral("."), QStringLiteral("1.234,5"), QStringLiteral("1234,5")},
        {QStringLiteral("G"), QStringLiteral("g12G"), QStringLiteral("g12")}, // case-sensitive
        // Latin-1: degree sign, micro sign, y with diaeresis (code 255), non-breaking space.
        {QStringLiteral("\u00B0\u00B5\u00FF"), QStringLiteral("\u00B021.5\u00B5\u00FF"),
         QStringLiteral("21.5")},
        {QStringLiteral("\u00A0"), QStringLiteral("1\u00A0234"), QStringLiteral("1234")},
        {QStringLiteral("\r\n"), QStringLiteral("12\r\n"), QStringLiteral("12")},
        {QStringLiteral("x"), QStringLiteral("xxx"), QStringLiteral("")},
        {QString::fromUcs4(U"\U0001F600"), QString::fromUcs4(U"1\U0001F6002\U0001F601"),
         QString::fromUcs4(U"12\U0001F601")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        EXPECT_EQ(Remover(c.set).removeCharacters(c.value), c.expected);
    }
    // One half of a pair in the set does not take characters apart.
    const QString pair = QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(Remover(pair.left(1)).removeCharacters(pair), pair);
    EXPECT_TRUE(Remover(QStringLiteral("x")).removeCharacters(QString()).isNull());
    EXPECT_EQ(Remover(QString()).removeCharacters(QStringLiteral("12 kg")), QStringLiteral("12 kg"));
    EXPECT_FALSE(Remover(QString()).active());
}
