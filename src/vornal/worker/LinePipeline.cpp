#include "vornal/worker/LinePipeline.h"

#include "vornal/config/Config.h"
#include "vornal/config/RegexDialect.h"

namespace vornal::worker {

LineAssembler::Step LineAssembler::add(quint8 byte) {
    if (overflowed_) {
        if (byte == terminator_) {
            overflowed_ = false;
            error_ = false;
            return Step::Dropped;
        }
        return Step::Pending;
    }
    buffer_.append(QChar(char16_t(byte)));
    if (byte == terminator_)
        return Step::Complete;
    if (buffer_.size() >= maxLineLength_) {
        overflowHead_ = buffer_.left(overflowHeadLength);
        buffer_.clear();
        buffer_.squeeze();
        buffer_.reserve(30);
        overflowed_ = true;
        return Step::Overflow;
    }
    return Step::Pending;
}

void LineAssembler::clear() {
    buffer_.clear();
    error_ = false;
    if (buffer_.capacity() > 4096) {
        // One long line should not keep its memory for the rest of the connection.
        buffer_.squeeze();
        buffer_.reserve(30);
    }
}

namespace {

QRegularExpression compiled(const QString& text) {
    QRegularExpression re = config::compileInstrumentPattern(text);
    if (!re.isValid())
        throw decimal::ProcessingError(
            QStringLiteral("the regular expression \"%1\" does not compile: %2 (at %3)")
                .arg(text, re.errorString())
                .arg(re.patternErrorOffset()));
    return re;
}

} // namespace

QString LinePipeline::patternText(const config::Config& config) {
    if (!config.getCustomRegEx().isEmpty())
        return config.getCustomRegEx();
    return config.getInstrument().value_or(config::ConfigHelper::Instrument::GENERIC).getPattern();
}

LinePipeline::Mode LinePipeline::modeFor(const config::Config& config) {
    const auto instrument = config.getInstrument().value_or(config::ConfigHelper::Instrument::GENERIC);
    return instrument.getInstrumentType() == config::ConfigHelper::InstrumentType::TEXT ? Mode::Text
                                                                                        : Mode::Number;
}

namespace {

// The characters of the bytes 0x80 to 0xFF in code page 437 (the bytes below are ASCII and control
// characters, as on the line).
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
// Windows-1252 differs from ISO 8859-1 in 0x80 to 0x9F only; its five unused bytes keep their value.
constexpr char16_t kCp1252C1[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// UTF-8: a valid sequence gives its character; a byte that starts or continues no valid sequence keeps its
// ISO 8859-1 meaning, so that nothing of the line is lost.
QString decodeUtf8(const QString& bytes) {
    QString out;
    out.reserve(bytes.size());
    const qsizetype n = bytes.size();
    const auto at = [&bytes](qsizetype i) { return static_cast<unsigned>(bytes.at(i).unicode() & 0xFF); };
    for (qsizetype i = 0; i < n;) {
        const unsigned b = at(i);
        int length = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2, cp = b & 0x1F, minimum = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3, cp = b & 0x0F, minimum = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4, cp = b & 0x07, minimum = 0x10000;
        }
        bool valid = length > 0 && i + length <= n;
        for (int k = 1; valid && k < length; ++k) {
            const unsigned c = at(i + k);
            valid = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        valid = valid && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            out += QChar(char16_t(b));
            ++i;
            continue;
        }
        out += QString::fromUcs4(&cp, 1);
        i += length;
    }
    return out;
}

} // namespace

QString LinePipeline::decode(const QString& bytes, config::ConfigHelper::InputEncoding encoding) {
    using E = config::ConfigHelper::InputEncoding;
    if (encoding == E::ISO_8859_1)
        return bytes;
    if (encoding == E::UTF_8) {
        for (const QChar c : bytes)
            if (c.unicode() >= 0x80)
                return decodeUtf8(bytes);
        return bytes; // ASCII
    }
    QString out = bytes;
    for (QChar& c : out) {
        const char16_t b = c.unicode() & 0xFF;
        if (encoding == E::CP437 && b >= 0x80)
            c = QChar(kCp437High[b - 0x80]);
        else if (encoding == E::WINDOWS_1252 && b >= 0x80 && b < 0xA0)
            c = QChar(kCp1252C1[b - 0x80]);
    }
    return out;
}

LinePipeline::LinePipeline(const config::Config& config, Mode mode)
    : LinePipeline(
          compiled(patternText(config)),
          // Numeric workers use the preset's group, also with a custom expression; barcode
          // workers always group 1.
          mode == Mode::Text
              ? 1
              : config.getInstrument().value_or(config::ConfigHelper::Instrument::GENERIC).getCaptureGroup(),
          mode, Editor::fromConfig(config), Remover::fromConfig(config),
          mode == Mode::Number ? std::optional<NumberFormatter>(NumberFormatter::fromConfig(config))
                               : std::nullopt) {
    encoding_ = config.getInputEncoding();
}

LinePipeline::LinePipeline(QRegularExpression pattern, int captureGroup, Mode mode, Editor editor,
                           Remover remover, std::optional<NumberFormatter> formatter)
    : pattern_(std::move(pattern)), captureGroup_(captureGroup), mode_(mode), editor_(editor),
      remover_(std::move(remover)), formatter_(std::move(formatter)) {
    pattern_.optimize();
}

QString LinePipeline::extract(const QString& rawLine) const {
    const QRegularExpressionMatch m = pattern_.match(rawLine);
    if (!m.isValid())
        throw decimal::ProcessingError(
            QStringLiteral("the regular expression \"%1\" is too complex to evaluate on "
                           "this line of %2 characters (match limit reached)")
                .arg(pattern_.pattern())
                .arg(rawLine.size()));
    if (!m.hasMatch())
        return QString();
    if (captureGroup_ > pattern_.captureCount())
        throw decimal::ProcessingError(QStringLiteral("the regular expression \"%1\" has no group %2")
                                           .arg(pattern_.pattern())
                                           .arg(captureGroup_));
    if (m.capturedStart(captureGroup_) < 0)
        throw decimal::ProcessingError(
            QStringLiteral("group %1 of the regular expression \"%2\" took no part in the "
                           "match of this line")
                .arg(captureGroup_)
                .arg(pattern_.pattern()));
    return m.captured(captureGroup_);
}

DataLine LinePipeline::process(const QString& received, bool error) {
    ++count_;
    // The bytes as characters of the instrument's encoding; the line keeps them so.
    const QString rawLine = decode(received, encoding_);
    QString value = extract(rawLine);
    const DataLine::Instant instant = DataLine::now();
    if (editor_.active())
        value = editor_.edit(value);
    if (remover_.active())
        value = remover_.removeCharacters(value);
    QString processed;
    if (mode_ == Mode::Number) {
        static const QRegularExpression whitespace(QStringLiteral("\\s+"));
        value.remove(whitespace);
        if (!value.isEmpty())
            processed = formatter_->format(value);
    } else {
        processed = value;
    }
    return DataLine(rawLine, processed, count_, instant, error);
}

DataLine LinePipeline::cutOff(const QString& head, qsizetype maxLineLength, bool error) {
    ++count_;
    const QString mark = QStringLiteral(" [cut: no input terminator within %1 bytes]").arg(maxLineLength);
    return DataLine(head + mark, QString(), count_, DataLine::now(), error);
}

} // namespace vornal::worker
