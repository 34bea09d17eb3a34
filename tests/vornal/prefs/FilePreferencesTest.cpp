#include "PrefsTestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>
#include <thread>

using namespace vornal::prefs;
using vornal::prefs::test::TempStore;

namespace {

class FilePreferencesTest : public TempStore {};

TEST(FilePreferencesFactoryTest, FileIsHomeDotFileprefsWithoutPropertyAndIsKept) {
    FilePreferencesFactory::setFileProperty(QString());
    FilePreferencesFactory::reset();
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), QDir::homePath() + QStringLiteral("/.fileprefs"));

    // Determined once: a later change of the property does not move the store ...
    FilePreferencesFactory::setFileProperty(QStringLiteral("/tmp/elsewhere.txt"));
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), QDir::homePath() + QStringLiteral("/.fileprefs"));
    // ... until the factory starts over.
    FilePreferencesFactory::reset();
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), QStringLiteral("/tmp/elsewhere.txt"));
    FilePreferencesFactory::setFileProperty(QString());
    FilePreferencesFactory::reset();
}

TEST_F(FilePreferencesTest, RootsAreOneNodeAndMissingFileReadsEmpty) {
    EXPECT_EQ(FilePreferencesFactory::userRoot(), FilePreferencesFactory::systemRoot());
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    EXPECT_EQ(node->absolutePath(), QStringLiteral("/halvorn/Vornal"));
    EXPECT_EQ(node->name(), QStringLiteral("Vornal"));
    EXPECT_TRUE(node->keys().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(file)); // nothing written by merely looking
    EXPECT_EQ(
        FilePreferencesFactory::userRoot()->node(QStringLiteral("halvorn"))->node(QStringLiteral("Vornal")),
        node);
    // A node from a tree that was dropped (another store selected) fails cleanly instead of crashing.
    node->put(QStringLiteral("port"), QStringLiteral("COM1"));
    FilePreferencesFactory::reset();
    EXPECT_THROW(node->removeNode(), IllegalStateException);
    EXPECT_THROW(node->node(QStringLiteral("/halvorn")), IllegalStateException);
    EXPECT_EQ(node->get(QStringLiteral("port"), QString()), QStringLiteral("COM1"));
}

TEST_F(FilePreferencesTest, PutWritesTheExactFileLineAfterTwoComments) {
    FilePreferencesFactory::userRoot()
        ->node(QStringLiteral("/halvorn/Vornal"))
        ->put(QStringLiteral("port"), QStringLiteral("COM3"));
    const QList<QByteArray> lines = readFile().split('\n');
    ASSERT_EQ(lines.size(), 4); // two comments, the entry, the final line break
    EXPECT_EQ(lines[0], QByteArray("#FilePreferences"));
    EXPECT_TRUE(lines[1].startsWith('#'));
    EXPECT_EQ(lines[2], QByteArray("halvorn.Vornal.port=COM3"));
    EXPECT_TRUE(lines[3].isEmpty());
}

TEST_F(FilePreferencesTest, ChildNodeEntriesBelongToTheChildAndSurviveAFlush) {
    writeFile("#FilePreferences\n#date\nhalvorn.Vornal.port=COM1\nhalvorn.Vornal.sub.key=1\nother.x=2\n");
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    EXPECT_EQ(node->keys(), QStringList{QStringLiteral("port")});
    node->put(QStringLiteral("delay"), QStringLiteral("20"));
    node->remove(QStringLiteral("port"));
    node->flush();
    EXPECT_EQ(entryLines(),
              (QList<QByteArray>{"halvorn.Vornal.delay=20", "halvorn.Vornal.sub.key=1", "other.x=2"}));
    EXPECT_EQ(node->node(QStringLiteral("sub"))->get(QStringLiteral("key"), QString()), QStringLiteral("1"));
}

TEST_F(FilePreferencesTest, RemovingANodeDeletesOnlyItsOwnLines) {
    writeFile("halvorn.Vornal.port=COM1\nhalvorn.Vornal.delay=20\nhalvorn.Vornal.sub.key=1\n"
              "halvorn.VornalX.y=3\nhalvorn.top=4\nother.x=2\n");
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    node->removeNode();
    EXPECT_EQ(entryLines(), (QList<QByteArray>{"halvorn.Vornal.sub.key=1", "halvorn.VornalX.y=3",
                                               "halvorn.top=4", "other.x=2"}));

    EXPECT_TRUE(node->isRemoved());
    EXPECT_FALSE(node->nodeExists(QString()));
    EXPECT_FALSE(FilePreferencesFactory::userRoot()->nodeExists(QStringLiteral("/halvorn/Vornal")));
    EXPECT_THROW(node->get(QStringLiteral("port"), QString()), IllegalStateException);
    EXPECT_THROW(node->put(QStringLiteral("port"), QStringLiteral("COM2")), IllegalStateException);
    EXPECT_THROW(node->removeNode(), IllegalStateException);
    EXPECT_THROW(FilePreferencesFactory::userRoot()->removeNode(), IllegalStateException);

    // Asking again gives a new, empty node that works normally.
    auto again = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    EXPECT_NE(again, node);
    EXPECT_TRUE(again->keys().isEmpty());
    again->put(QStringLiteral("port"), QStringLiteral("COM9"));
    EXPECT_EQ(reopen()->get(QStringLiteral("port"), QString()), QStringLiteral("COM9"));
}

TEST_F(FilePreferencesTest, RemovingANodeRemovesItsLoadedChildren) {
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/a/b"));
    node->put(QStringLiteral("k"), QStringLiteral("1"));
    auto child = node->node(QStringLiteral("c"));
    child->put(QStringLiteral("k"), QStringLiteral("2"));
    FilePreferencesFactory::userRoot()
        ->node(QStringLiteral("/a"))
        ->put(QStringLiteral("k"), QStringLiteral("0"));
    node->removeNode();
    EXPECT_TRUE(child->isRemoved());
    EXPECT_EQ(entryLines(), QList<QByteArray>{"a.k=0"});
}

TEST_F(FilePreferencesTest, EscapedValuesAreWrittenEscapedAndReadBackUnchanged) {
    const QString tricky[] = {QStringLiteral("a=b:c#d!e"),
                              QStringLiteral("W\u00e4gung 5 \u20ac"),
                              QStringLiteral(" leading blank"),
                              QStringLiteral("two\nlines\r\tand\\slash"),
                              QStringLiteral("([-+]?\\s*[0-9]*[\\.,]?[0-9]+)"),
                              QStringLiteral("")};
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    for (int i = 0; i < int(std::size(tricky)); ++i)
        node->put(QStringLiteral("k%1").arg(i), tricky[i]);

    const QByteArray text = readFile();
    EXPECT_TRUE(text.contains("halvorn.Vornal.k0=a\\=b\\:c\\#d\\!e\n"));
    EXPECT_TRUE(text.contains("\\u20AC")); // outside ISO 8859-1
    EXPECT_TRUE(text.contains("halvorn.Vornal.k2=\\ leading blank\n"));
    EXPECT_FALSE(text.contains("two\nlines"));
    for (char c : text) // the file is pure ISO 8859-1 text with every non-ASCII character escaped
        EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80 || static_cast<unsigned char>(c) == 0xe4);

    auto back = reopen();
    for (int i = 0; i < int(std::size(tricky)); ++i)
        EXPECT_EQ(back->get(QStringLiteral("k%1").arg(i), QStringLiteral("<absent>")), tricky[i]) << i;
}

TEST_F(FilePreferencesTest, TypedEntriesUseFallbackForMalformedText) {
    writeFile("n.i1=+7\nn.i2=abc\nn.i3=\\ 42\nn.i4=2147483648\nn.i5=-2147483648\nn.i6=\n"
              "n.b1=TRUE\nn.b2=False\nn.b3=yes\n");
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/n"));
    EXPECT_EQ(node->getInt(QStringLiteral("i1"), -1), 7);
    EXPECT_EQ(node->getInt(QStringLiteral("i2"), -1), -1);
    EXPECT_EQ(node->getInt(QStringLiteral("i3"), -1), -1);
    EXPECT_EQ(node->getInt(QStringLiteral("i4"), -1), -1);
    EXPECT_EQ(node->getInt(QStringLiteral("i5"), -1), -2147483647 - 1);
    EXPECT_EQ(node->getInt(QStringLiteral("i6"), -1), -1);
    EXPECT_EQ(node->getInt(QStringLiteral("absent"), 13), 13);
    EXPECT_TRUE(node->getBoolean(QStringLiteral("b1"), false));
    EXPECT_FALSE(node->getBoolean(QStringLiteral("b2"), true));
    EXPECT_TRUE(node->getBoolean(QStringLiteral("b3"), true));
    EXPECT_FALSE(node->getBoolean(QStringLiteral("b3"), false));
    EXPECT_EQ(node->get(QStringLiteral("i6"), QStringLiteral("fallback")), QString()); // empty is a value

    node->putInt(QStringLiteral("bitRate"), 7);
    node->putBoolean(QStringLiteral("flag"), true);
    EXPECT_TRUE(entryLines().contains("n.bitRate=7"));
    EXPECT_TRUE(entryLines().contains("n.flag=true"));
}

TEST_F(FilePreferencesTest, KeysAndNamesThatWouldLandInAnotherNodeAreRefused) {
    auto root = FilePreferencesFactory::userRoot();
    auto node = root->node(QStringLiteral("/halvorn/Vornal"));
    EXPECT_THROW(node->put(QStringLiteral("sub.key"), QStringLiteral("1")), std::invalid_argument);
    EXPECT_THROW(node->put(QString(), QStringLiteral("1")), std::invalid_argument);
    EXPECT_THROW(node->put(QString(81, u'k'), QStringLiteral("1")), std::invalid_argument);
    EXPECT_THROW(node->put(QStringLiteral("k"), QString(8193, u'v')), std::invalid_argument);
    EXPECT_THROW(root->node(QStringLiteral("/halvorn/Vor.nal")), std::invalid_argument);
    EXPECT_THROW(root->node(QStringLiteral("/halvorn//Vornal")), std::invalid_argument);
    EXPECT_THROW(root->node(QStringLiteral("/halvorn/")), std::invalid_argument);
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(root->node(QStringLiteral("/")), root);
}

TEST_F(FilePreferencesTest, FlushKeepsOtherNodesAndSyncTakesTheFilesValues) {
    auto a = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    auto b = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Other"));
    a->put(QStringLiteral("port"), QStringLiteral("COM1"));
    b->put(QStringLiteral("x"), QStringLiteral("1"));
    // Another process changes the file behind our back.
    writeFile("halvorn.Vornal.port=COM7\nhalvorn.Vornal.delay=30\nhalvorn.Other.x=1\n");
    a->put(QStringLiteral("memoryOnly"), QStringLiteral("m")); // re-reads others, rewrites its own
    EXPECT_TRUE(entryLines().contains("halvorn.Other.x=1"));
    EXPECT_FALSE(entryLines().contains("halvorn.Vornal.delay=30")); // last flush wins for own entries

    writeFile("halvorn.Vornal.port=COM8\nhalvorn.Vornal.delay=40\n");
    a->sync();
    EXPECT_EQ(a->get(QStringLiteral("port"), QString()), QStringLiteral("COM8"));
    EXPECT_EQ(a->get(QStringLiteral("delay"), QString()), QStringLiteral("40"));
    EXPECT_EQ(a->get(QStringLiteral("memoryOnly"), QString()), QStringLiteral("m")); // not in the file: stays
}

TEST_F(FilePreferencesTest, FlushCreatesMissingFolders) {
    file = dir.filePath(QStringLiteral("new/deeper/prefs.txt"));
    FilePreferencesFactory::setFileProperty(file);
    FilePreferencesFactory::reset();
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    node->put(QStringLiteral("port"), QStringLiteral("COM3"));
    EXPECT_EQ(entryLines(), QList<QByteArray>{"halvorn.Vornal.port=COM3"});
}

TEST_F(FilePreferencesTest, UnreadableFileStartsEmptyAndExplicitOperationsFail) {
    ASSERT_TRUE(QDir().mkpath(file)); // a folder where the file should be
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    EXPECT_TRUE(node->keys().isEmpty());
    EXPECT_NO_THROW(node->put(QStringLiteral("port"), QStringLiteral("COM3"))); // only logged
    EXPECT_EQ(node->get(QStringLiteral("port"), QString()), QStringLiteral("COM3"));
    try {
        node->flush();
        FAIL() << "flush must fail";
    } catch (const BackingStoreException& e) {
        EXPECT_TRUE(e.message().contains(file)) << e.message().toStdString();
    }
    EXPECT_THROW(node->sync(), BackingStoreException);
    EXPECT_THROW(node->removeNode(), BackingStoreException);
    EXPECT_FALSE(node->isRemoved());
}

// A save that fails half-way (disk full, crash) must leave the previous file as it was. The write is
// made to fail with a file-size limit, which, unlike permission bits, also stops root.
TEST_F(FilePreferencesTest, FailedWriteLeavesThePreviousFileByteIdentical) {
    auto node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
    node->put(QStringLiteral("port"), QStringLiteral("COM3"));
    node->put(QStringLiteral("delay"), QStringLiteral("20"));
    const QByteArray before = readFile();
    ASSERT_FALSE(before.isEmpty());

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 256;
    if (setrlimit(RLIMIT_FSIZE, &small) != 0) {
        std::signal(SIGXFSZ, previousHandler);
        GTEST_SKIP() << "cannot lower the file-size limit here";
    }
    bool putThrew = false;
    QString flushError;
    try {
        node->put(QStringLiteral("customRegEx"), QString(2000, u'x'));
    } catch (...) {
        putThrew = true;
    }
    try {
        node->flush();
    } catch (const BackingStoreException& e) {
        flushError = e.message();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(putThrew);                                                      // a put only logs
    EXPECT_EQ(node->get(QStringLiteral("customRegEx"), QString()).size(), 2000); // and keeps the value
    EXPECT_TRUE(flushError.contains(file)) << flushError.toStdString();          // an explicit flush fails
    EXPECT_EQ(readFile(), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList{QStringLiteral("prefs.txt")}); // no leftovers

    node->flush(); // with room again, the value held in memory is written
    EXPECT_EQ(reopen()->get(QStringLiteral("customRegEx"), QString()).size(), 2000);
}

TEST_F(FilePreferencesTest, WritesFromTwoThreadsAreAllKept) {
    auto a = FilePreferencesFactory::userRoot()->node(QStringLiteral("/t/a"));
    auto b = FilePreferencesFactory::userRoot()->node(QStringLiteral("/t/b"));
    auto writer = [](std::shared_ptr<AbstractPreferences> n) {
        for (int i = 0; i < 15; ++i)
            n->putInt(QStringLiteral("k%1").arg(i), i);
    };
    std::thread t1(writer, a), t2(writer, b);
    t1.join();
    t2.join();
    auto ra = reopen(QStringLiteral("/t/a"));
    auto rb = FilePreferencesFactory::userRoot()->node(QStringLiteral("/t/b"));
    EXPECT_EQ(ra->keys().size(), 15);
    EXPECT_EQ(rb->keys().size(), 15);
    EXPECT_EQ(rb->getInt(QStringLiteral("k14"), -1), 14);
}

} // namespace
