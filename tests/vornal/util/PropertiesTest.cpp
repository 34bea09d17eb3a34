#include "vornal/util/Properties.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using vornal::util::Properties;

TEST(Properties, EscapesWhatAStandardWriterEscapes) {
    EXPECT_EQ(Properties::escape("a=b:c#d!e", false), "a\\=b\\:c\\#d\\!e");
    EXPECT_EQ(Properties::escape(" lead mid", false), "\\ lead mid");
    EXPECT_EQ(Properties::escape("a key", true), "a\\ key");
    EXPECT_EQ(Properties::escape("tab\there\nnl\\", false), "tab\\there\\nnl\\\\");
    EXPECT_EQ(Properties::escape(QString::fromUtf8("\xC3\xBF\xE2\x82\xAC"), false), "\\u00FF\\u20AC");
}

TEST(Properties, ReadsTheStandardFormsLeniently) {
    const QByteArray text = "# comment\n"
                            "! other comment\n"
                            "   \n"
                            "a=1\n"
                            "b : 2\n"
                            "c 3\n"
                            "d=multi\\\n"
                            "    line\n"
                            "e\\ key=\\u00e9\\u20ac\n"
                            "f=bad \\uZZ escape\r\n"
                            "g=\\=\\:\\#\\!\\t\n"
                            "h\n"
                            "i=trailing\\";
    int malformed = -1;
    const Properties p = Properties::parse(text, &malformed);
    EXPECT_EQ(p.value("a"), "1");
    EXPECT_EQ(p.value("b"), "2");
    EXPECT_EQ(p.value("c"), "3");
    EXPECT_EQ(p.value("d"), "multiline");
    EXPECT_EQ(p.value("e key"), QString::fromUtf8("\xC3\xA9\xE2\x82\xAC"));
    EXPECT_EQ(p.value("f"), "bad uZZ escape");
    EXPECT_EQ(p.value("g"), "=:#!\t");
    EXPECT_TRUE(p.contains("h"));
    EXPECT_EQ(p.value("h"), "");
    EXPECT_EQ(p.value("i"), "trailing");
    EXPECT_EQ(malformed, 1);
    EXPECT_EQ(p.size(), 9u);
}

TEST(Properties, RoundTripsAnyText) {
    Properties p;
    const QString awkward =
        QString::fromUtf8(" =:#!\\\t\r\n\f\x01 \xC3\xBF \xE2\x82\xAC \xF0\x9F\x98\x80 end ");
    p.set("halvorn.Vornal.removeCharacters", awkward);
    p.set(awkward, "key with everything");
    p.set("empty", "");
    const QByteArray bytes = p.serialize("FilePreferences");
    for (char c : bytes)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "everything beyond ASCII is escaped";
    EXPECT_TRUE(bytes.startsWith("#FilePreferences\n#"));
    const Properties back = Properties::parse(bytes);
    EXPECT_EQ(back.entries(), p.entries());
}

TEST(Properties, SaveReplacesTheFileAtomically) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.txt");
    Properties p;
    p.set("k", "v1");
    QString error;
    ASSERT_TRUE(p.save(path, "FilePreferences", &error)) << error.toStdString();
    Properties q;
    ASSERT_TRUE(q.load(path));
    EXPECT_EQ(q.value("k"), "v1");
    // Saving into a folder that does not exist fails with the path in the message.
    EXPECT_FALSE(p.save(dir.filePath("missing/p.txt"), "x", &error));
    EXPECT_TRUE(error.contains("missing/p.txt"));
}
