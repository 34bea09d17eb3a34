// Writes the seed corpora of the fuzz targets into DIR/<target>/ from the presets' sample lines:
//   fuzz_make_corpus DIR
// Each preset gives its sample lines (with its input terminator) in the layout the target reads, its
// default settings as a preferences file and as an export document, and its expected values as numbers.

#include "FuzzSupport.h"
#include "Rfc2217.h"

#include "vornal/prefs/PreferencesXml.h"
#include "vornal/util/Properties.h"

#include "SimScript.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace vornal;
using H = config::ConfigHelper;

namespace {

QString outDir;
int written = 0;

void put(const char* target, const QString& name, const QByteArray& bytes) {
    const QString dir = outDir + u'/' + QString::fromLatin1(target);
    QDir().mkpath(dir);
    QFile f(dir + u'/' + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(f.fileName()), qPrintable(f.errorString()));
        std::exit(1);
    }
    ++written;
}

QByteArray prefsFile(const config::Config& c) {
    util::Properties p;
    for (const auto& [key, value] : c.storedEntries())
        p.set(QStringLiteral("halvorn.Vornal.") + key, value);
    return p.serialize(QStringLiteral("FilePreferences"), QDateTime::fromSecsSinceEpoch(1796000000, Qt::UTC));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_corpus DIR\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);

    for (const H::Instrument& preset : H::Instrument::values()) {
        const QString name = preset.name().toLower();
        config::Config c = preset.getDefaultConfig();
        c.setInstrument(preset);
        c.setPort(QStringLiteral("COM1"));
        const char terminator = char(c.getInputTerminator());

        QByteArray lines;
        for (const auto& sample : preset.getTestStrings()) {
            if (sample.line.isEmpty())
                continue;
            lines += sample.line.toLatin1() + terminator;
            if (!sample.expected.isEmpty())
                put("fuzz_decimal", name + u'-' + QString::number(written),
                    QByteArray(2, '\0') + sample.expected.trimmed().remove(u' ').toLatin1());
            put("fuzz_control_chars", name + u'-' + QString::number(written), sample.line.toLatin1());
        }
        if (lines.isEmpty())
            lines = QByteArrayLiteral("ST,GS,+  12.345 kg") + terminator;
        QByteArray header(fuzz::kSettingsHeaderSize, '\0');
        header[0] = char(preset.ordinal());
        put("fuzz_pipeline", name, header + '\0' + lines + lines);
        put("fuzz_keymap", name, header + '\0' + lines);

        put("fuzz_properties", name, prefsFile(c));
        put("fuzz_settings_load", name, prefsFile(c));
        const prefs::PreferencesXml::Entries entries = c.storedEntries();
        put("fuzz_settings_xml", name,
            prefs::PreferencesXml::toDocument(QString::fromLatin1(config::Config::SETTINGS_NODE), entries));
    }
    // A few hand-picked numbers the formatter treats specially.
    const char* numbers[] = {"-0.004", "1.5E3", "+12.345|0.001", "0.0", "1E-5|3", "999999999999999999999.5"};
    for (const char* n : numbers)
        put("fuzz_decimal", QStringLiteral("number-%1").arg(written), QByteArray(1, char(0x85)) + '\x13' + n);
    put("fuzz_decimal", QStringLiteral("number-exponent-bound"), QByteArray(2, '\0') + "9E9999");
    // Custom expressions with the dialect's anchors, inline flags and escapes, on lines with every
    // terminator, for a numeric and a text preset.
    const char* const expressions[] = {"(\\d+) kg$",      "^(.*)\\Z",         "(?m)^([-\\d.]+)$",
                                       "(?s:.)(\\d+).$",  "\\u0031(\\d+)\\z", "([-+\\d.eE]+)",
                                       "((?s)\\d.)(\\d)$"};
    const QByteArray regexLines("12 kg\r12 kg\r\n7\x85\r9E9999\r1E1000\n\r1\r2\r");
    for (const int ordinal :
         {H::Instrument::GENERIC.ordinal(), H::Instrument::BARCODE_ALPHA_COMPLETE.ordinal()}) {
        for (size_t i = 0; i < std::size(expressions); ++i) {
            QByteArray header(fuzz::kSettingsHeaderSize, '\0');
            header[0] = char(ordinal);
            const QByteArray expression(expressions[i]);
            put("fuzz_pipeline", QStringLiteral("regex-%1-%2").arg(i).arg(ordinal),
                header + '\1' + char(expression.size()) + expression + regexLines);
        }
    }
    // The later targets, after the first ones so that those keep their names.
    int rowSeeds = 0;
    for (const H::Instrument& preset : H::Instrument::values()) {
        const QString name = preset.name().toLower();
        const char terminator = char(preset.getDefaultConfig().getInputTerminator());
        // A data-log row per sample line: port, instrument, line, value, result.
        for (const auto& sample : preset.getTestStrings()) {
            if (sample.line.isEmpty())
                continue;
            const QString row =
                QStringList{QStringLiteral("COM1"), preset.name(), sample.line + QChar(terminator),
                            sample.expected, QStringLiteral("typed")}
                    .join(QChar(0x1F));
            put("fuzz_datalog_row", name + u'-' + QString::number(rowSeeds++), row.toUtf8());
        }
        // The stability rules: every option with the preset's own sample lines, then a few of our own.
        if (preset.hasStabilityRule()) {
            for (const char options : {1, 2, 3}) {
                QByteArray input;
                input += char(preset.ordinal());
                input += options;
                input += char(2); // difference "0.01"
                for (int i = 0; i < 24; ++i)
                    input += char(i % 7);
                input += char(250);
                input += "\x05+0.00";
                put("fuzz_stability", name + QStringLiteral("-%1").arg(int(options)), input);
            }
        }
    }

    // The request socket: the one command, blanks, other lines, long lines, in chunks of various sizes.
    const QByteArray requests[] = {"request\n",
                                   " request \r\n",
                                   "requests\n",
                                   "REQUEST\n",
                                   "\n",
                                   "request",
                                   "request\nrequest\n",
                                   QByteArray(300, 'r') + '\n',
                                   QByteArray("\0request\n", 9)};
    for (size_t i = 0; i < std::size(requests); ++i)
        for (const char chunk : {0, 3, 63})
            put("fuzz_request_protocol", QStringLiteral("request-%1-%2").arg(i).arg(int(chunk)),
                QByteArray(1, chunk) + requests[i]);
    // The simulator: its built-in instruments and the shipped scripts (read from the source tree).
    put("fuzz_sim_script", QStringLiteral("builtin.vsim"), QByteArray(vazsim::builtinScriptText()));
    const QString simDir = QStringLiteral(VORNAL_SOURCE_DIR "/resources/sim");
    for (const QString& file : QDir(simDir).entryList({QStringLiteral("*.vsim")}, QDir::Files)) {
        QFile f(simDir + u'/' + file);
        if (f.open(QIODevice::ReadOnly))
            put("fuzz_sim_script", file, f.readAll());
    }
    // Network ports: what RFC 2217 device servers send (agreement, refusal, notifications, escaped data,
    // broken and foreign commands), each as one read and in small pieces, with and without the greeting.
    {
        using namespace vaznet;
        using namespace vaznet::telnet;
        auto bytes = [](std::initializer_list<int> list) {
            QByteArray b;
            for (const int v : list)
                b += char(v);
            return b;
        };
        auto cmd = [](uint8_t c, const std::vector<uint8_t>& value) {
            const auto v = Rfc2217Codec::command(uint8_t(c + comport::SERVER_OFFSET), value);
            return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
        };
        const QByteArray agree =
            bytes({IAC, DO, COM_PORT, IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, SGA, IAC, DO, SGA});
        const QByteArray streams[] = {
            agree + cmd(comport::SET_BAUDRATE, {0, 0, 0x25, 0x80}) + cmd(comport::SET_DATASIZE, {8}) +
                cmd(comport::SET_PARITY, {1}) + "ST,GS,+  12.345 kg\r\n",
            bytes({IAC, DONT, COM_PORT, IAC, WONT, BINARY, IAC, DONT, BINARY}),
            agree + cmd(comport::NOTIFY_MODEMSTATE, {0xB0}) + cmd(comport::NOTIFY_LINESTATE, {0x1E}) + "1" +
                bytes({IAC, IAC}) + "2\r" + cmd(comport::NOTIFY_MODEMSTATE, {0xFF}),
            agree + bytes({IAC, SB, COM_PORT, 107}) + QByteArray(80, 'x') + bytes({IAC, SE}) + "after\r",
            bytes({IAC, SB,  COM_PORT, 101, IAC, 'x',  IAC, 241, IAC,  249, IAC, DO,
                   24,  IAC, WILL,     1,   IAC, DONT, SGA, IAC, WILL, SGA, 'v', '\r'}),
            bytes({IAC, WONT, COM_PORT, IAC, SB}) + "unfinished",
        };
        int i = 0;
        for (const QByteArray& stream : streams) {
            for (const char chunk : {0, 2, 63})
                for (const char greeted : {0, 1})
                    put("fuzz_rfc2217",
                        QStringLiteral("server-%1-%2-%3").arg(i).arg(int(chunk)).arg(int(greeted)),
                        QByteArray(1, chunk) + greeted + stream);
            ++i;
        }
    }
    std::printf("%d seed files in %s\n", written, qPrintable(outDir));
    return 0;
}
