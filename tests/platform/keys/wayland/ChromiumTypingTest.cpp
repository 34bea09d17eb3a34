// Typing into Chromium on a headless sway, as a Wayland client (--ozone-platform=wayland): a form with
// a text area on a local page, values from a simulated instrument through `vornal-cli run` and texts
// through `vornal-cli type`. Chromium reads the physical key of every key event, so it is the receiver
// that catches a keymap laid out wrongly. What arrived is read back from the page's console lines in
// Chromium's log. A fresh sway for each Chromium start (a Chromium started after a virtual keyboard has
// come and gone crashes on this sway).
#include "Sway.h"

#include "support/Cli.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using vornal::test::Sway;

namespace {

QString chromiumPath() {
    for (const char* p : {"/usr/lib/chromium/chromium", "/usr/lib/chromium-browser/chromium-browser"})
        if (QFile::exists(QString::fromLatin1(p)))
            return QString::fromLatin1(p);
    return {};
}

// The page: one text area with the focus; every change is written to the console as FIELD and the
// text, with \uXXXX for everything outside printable ASCII and for the backslash.
constexpr const char* kPage = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Vornal typing test</title></head>
<body><form onsubmit="return false"><textarea id="field" rows="20" cols="100"></textarea></form>
<script>
const field = document.getElementById('field');
const esc = s => s.replace(/[^\x20-\x5b\x5d-\x7e]/g,
                           c => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'));
field.addEventListener('input', () => console.log('FIELD ' + esc(field.value)));
field.focus();
setInterval(() => { if (document.activeElement !== field) field.focus(); }, 100);
console.log('READY');
</script></body></html>
)";

class Chromium {
public:
    explicit Chromium(Sway& sway) {
        const QString page = sway.filePath(QStringLiteral("form.html"));
        {
            QFile f(page);
            f.open(QIODevice::WriteOnly);
            f.write(kPage);
        }
        const QString profile = sway.filePath(QStringLiteral("profile"));
        QDir().mkpath(profile);
        Sway::giveToUser(profile);
        log_ = sway.filePath(QStringLiteral("chromium.log"));
        sway.startAsUser(chromiumPath(),
                         {"--ozone-platform=wayland", "--no-sandbox", "--disable-gpu", "--no-first-run",
                          "--disable-background-networking", "--disable-component-update", "--disable-sync",
                          "--enable-logging=stderr", "--user-data-dir=" + profile, "file://" + page},
                         sway.env(), log_);
    }
    bool ready() {
        return vornal::test::waitUntil([&] { return vornal::test::readText(log_).contains(R"("READY")"); },
                                       60000);
    }
    QString log() const { return vornal::test::readText(log_).right(1500); }
    // The text area's text as last reported.
    QString field() const {
        const QString all = vornal::test::readText(log_);
        const qsizetype at = all.lastIndexOf(QStringLiteral("\"FIELD "));
        if (at < 0)
            return {};
        const qsizetype end = all.indexOf(QStringLiteral("\", source:"), at);
        const QString escaped = all.mid(at + 7, end - at - 7);
        QString text;
        for (qsizetype i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == u'\\' && i + 5 < escaped.size() && escaped[i + 1] == u'u') {
                text += QChar(escaped.mid(i + 2, 4).toUShort(nullptr, 16));
                i += 5;
            } else {
                text += escaped[i];
            }
        }
        return text;
    }
    // Waits until the text area holds `expected` (or 30 s passed) and returns what it holds.
    QString fieldOnce(const QString& expected) const {
        vornal::test::waitUntil([&] { return field() == expected; }, 30000);
        QThread::msleep(100); // nothing more may follow
        return field();
    }

private:
    QString log_;
};

QProcessEnvironment cliEnv(const Sway& sway) {
    QProcessEnvironment env = vornal::test::cliEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    for (const QString& k : {QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("XDG_RUNTIME_DIR")})
        env.insert(k, sway.env().value(k));
    return env;
}

// A simulator script whose instrument SIM1 sends each of `values` (Latin-1) as a line ended by CR.
QString scriptFor(const Sway& sway, const QStringList& values, const QString& name) {
    // The port drops what arrives while it is being opened: the instrument starts a moment later.
    QString script = QStringLiteral("port SIM1\nwait 300ms\n");
    for (const QString& v : values) {
        QString quoted;
        for (const QChar c : v) {
            if (c == u'"' || c == u'\\' || c == u'{' || c == u'}')
                quoted += u'\\' + QString(c);
            else if (c.unicode() >= 0x80)
                quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                quoted += c;
        }
        script += QStringLiteral("send \"%1\\r\"\nwait 10ms\n").arg(quoted);
    }
    const QString path = sway.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(script.toUtf8());
    return path;
}

// `vornal-cli run` on the simulated instrument: each line's whole text is a value, ENTER after it.
// Ends it once the field holds `expected`; returns the field's text and checks the exit status.
QString runInstrument(const Sway& sway, const Chromium& chromium, const QStringList& values,
                      const QString& keyboardType, const QString& before) {
    QString expected = before;
    for (const QString& v : values)
        expected += v + u'\n';
    QProcess p;
    vornal::test::startCli(p,
                           {"--store", sway.filePath("prefs.txt"), "--simulate",
                            scriptFor(sway, values, "instrument-" + keyboardType + ".vsim"), "run", "--port",
                            "SIM1", "--preset", "BARCODE_ALPHA_COMPLETE", "--set", "customRegEx=(.*)\\r",
                            "--set", "outputTerminator=ENTER", "--set", "keyboardType=" + keyboardType,
                            "--set", "delay=0", "--set", "keyBackend=wayland"},
                           cliEnv(sway));
    const QString got = chromium.fieldOnce(expected);
    p.terminate();
    EXPECT_TRUE(p.waitForFinished(20000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("cannot"), Qt::CaseInsensitive)) << err.toStdString();
    return got;
}

} // namespace

TEST(ChromiumTyping, EveryCharacterValueAfterValue) {
    if (chromiumPath().isEmpty())
        GTEST_SKIP() << "Chromium is not installed (scripts/deps.sh test)";
    Sway sway;
    if (!sway.skipReason().empty())
        GTEST_SKIP() << sway.skipReason();
    Chromium chromium(sway);
    ASSERT_TRUE(chromium.ready()) << "Chromium did not load the page:\n" << chromium.log().toStdString();

    // Every printable character but the blank, one value each: on a layout with accent keys (the
    // accents come as their characters) and with ALL (ALT + numeric-pad codes).
    QStringList ascii;
    for (char c = 0x21; c <= 0x7E; ++c)
        ascii += QString(QLatin1Char(c));
    QString expected;
    for (const QString& v : ascii)
        expected += v + u'\n';
    EXPECT_EQ(runInstrument(sway, chromium, ascii, "GERMAN", {}).toStdString(), expected.toStdString());

    // ALL: the texts beyond ASCII (the instrument sends Latin-1), then ASCII again: nothing lost after
    // a value with symbols.
    const QStringList texts =
        ascii + QStringList{QString::fromUtf8("\xC2\xB0"
                                              "C \xC2\xB5m \xC2\xB1"),
                            QString::fromUtf8("Gr\xC3\xB6\xC3\x9F"
                                              "e \xC3\x84\xC3\x96\xC3\x9C"),
                            QString::fromUtf8("12,50 \xC2\xA7 \xC3\xA9t\xC3\xA9 \xC2\xB2"),
                            QStringLiteral("Hello World 12.345 <=>?@ ^\\ bm")};
    QString all = expected;
    for (const QString& v : texts)
        all += v + u'\n';
    EXPECT_EQ(runInstrument(sway, chromium, texts, "ALL", expected).toStdString(), all.toStdString());

    // Beyond Latin-1 (the euro sign, Latin Extended-A, and characters the keymap gets on the way).
    for (const char* text : {"\xC2\xB0"
                             "C \xC2\xB5m \xC2\xB1\xE2\x82\xAC",
                             "12,50 \xE2\x82\xAC", "\xC5\x81\xC3\xB3\xC4\x91\xC5\xBA \xC5\x92uvre",
                             "\xCE\xA9 \xE2\x80\x93 \xE2\x80\xA6 \xE2\x84\xA2"}) {
        const QString t = QString::fromUtf8(text);
        const auto r = vornal::test::runCli({"--store", sway.filePath("prefs.txt"), "type", "--layout", "ALL",
                                             "--delay", "0", "--backend", "wayland", "--", t},
                                            {}, 30000, cliEnv(sway));
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        all += t;
        EXPECT_EQ(chromium.fieldOnce(all).toStdString(), all.toStdString());
    }
}

TEST(ChromiumTyping, LongDelayTypesNoRepeatedCharacters) {
    if (chromiumPath().isEmpty())
        GTEST_SKIP() << "Chromium is not installed (scripts/deps.sh test)";
    Sway sway;
    if (!sway.skipReason().empty())
        GTEST_SKIP() << sway.skipReason();
    Chromium chromium(sway);
    ASSERT_TRUE(chromium.ready()) << "Chromium did not load the page:\n" << chromium.log().toStdString();
    // sway tells its windows to repeat a key held for 600 ms; a delay of 700 ms lies between the keys,
    // never while one is down.
    const auto r = vornal::test::runCli(
        {"--store", sway.filePath("prefs.txt"), "type", "--layout", "QUERTY", "--delay", "700", "--", "aB"},
        {}, 30000, cliEnv(sway));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(chromium.fieldOnce(QStringLiteral("aB")).toStdString(), "aB");
}

TEST(ChromiumTyping, CompositorKilledMidValueIsReportedExactlyAndEndsTheRun) {
    if (chromiumPath().isEmpty())
        GTEST_SKIP() << "Chromium is not installed (scripts/deps.sh test)";
    Sway sway;
    if (!sway.skipReason().empty())
        GTEST_SKIP() << sway.skipReason();
    Chromium chromium(sway);
    ASSERT_TRUE(chromium.ready()) << "Chromium did not load the page:\n" << chromium.log().toStdString();

    // A long value typed slowly, one more waiting behind it; the compositor dies in the middle.
    const QString value = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    QProcess run;
    vornal::test::startCli(run,
                           {"--store", sway.filePath("prefs.txt"), "--simulate",
                            scriptFor(sway, {value, QStringLiteral("second")}, "killed.vsim"), "run",
                            "--port", "SIM1", "--preset", "BARCODE_ALPHA_COMPLETE", "--set",
                            "customRegEx=(.*)\\r", "--set", "outputTerminator=ENTER", "--set", "delay=150",
                            "--set", "keyBackend=wayland"},
                           cliEnv(sway));
    ASSERT_TRUE(vornal::test::waitUntil([&] { return chromium.field().size() >= 6; }, 30000))
        << chromium.log().toStdString();
    sway.kill();

    // The run ends by itself, promptly, with a failure status (a service manager restarts it).
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(run.waitForFinished(30000)) << "vornal-cli run went on after the compositor was gone";
    EXPECT_LT(t.elapsed(), 10000);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(run.exitCode(), 0) << err.toStdString();

    // What the form got is exactly what the report calls typed; the rest and the value behind it are
    // named as not typed.
    const QString got = chromium.field();
    ASSERT_GE(got.size(), 6);
    ASSERT_LT(got.size(), value.size()) << "the value was typed whole before the compositor went";
    EXPECT_TRUE(value.startsWith(got)) << got.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("typed '%1', not typed '%2'").arg(got, value.mid(got.size()))))
        << "form got '" << got.toStdString() << "'; vornal-cli said:\n"
        << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("compositor wayland-1"))) << err.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("[Nn]ot typed[^\\n]*: second")).match(err).hasMatch())
        << err.toStdString();
}

TEST(ChromiumTyping, CompositorThatStopsAnsweringIsGivenUp) {
    if (chromiumPath().isEmpty())
        GTEST_SKIP() << "Chromium is not installed (scripts/deps.sh test)";
    Sway sway;
    if (!sway.skipReason().empty())
        GTEST_SKIP() << sway.skipReason();
    Chromium chromium(sway);
    ASSERT_TRUE(chromium.ready()) << "Chromium did not load the page:\n" << chromium.log().toStdString();

    // The compositor stops (as a hung one would) in the middle of a value: typing gives up after the
    // time limit instead of waiting for ever, and says how far it got.
    const QString value = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
    QProcess type;
    vornal::test::startCli(type,
                           {"--store", sway.filePath("prefs.txt"), "type", "--layout", "QUERTY", "--delay",
                            "100", "--backend", "wayland", "--", value},
                           cliEnv(sway));
    ASSERT_TRUE(vornal::test::waitUntil([&] { return chromium.field().size() >= 4; }, 30000))
        << chromium.log().toStdString();
    sway.pause(true);
    QElapsedTimer t;
    t.start();
    const bool ended = type.waitForFinished(30000);
    const qint64 took = t.elapsed();
    sway.pause(false);
    ASSERT_TRUE(ended) << "vornal-cli type waited for ever on a compositor that does not answer";
    EXPECT_LT(took, 15000);
    const QString err = QString::fromUtf8(type.readAllStandardError());
    EXPECT_EQ(type.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("did not answer within 5 s"))) << err.toStdString();
    const QString got = chromium.fieldOnce(chromium.field());
    ASSERT_TRUE(value.startsWith(got)) << got.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("typed '%1', not typed '%2'").arg(got, value.mid(got.size()))))
        << "form got '" << got.toStdString() << "'; vornal-cli said:\n"
        << err.toStdString();
}
