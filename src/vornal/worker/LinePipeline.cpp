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
                               : std::nullopt) {}

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

DataLine LinePipeline::process(const QString& rawLine, bool error) {
    ++count_;
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
