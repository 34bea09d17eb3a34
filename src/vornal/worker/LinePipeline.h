#pragma once

#include "vornal/config/ConfigHelper.h"
#include "vornal/worker/DataLine.h"
#include "vornal/worker/Editor.h"
#include "vornal/worker/NumberFormatter.h"
#include "vornal/worker/Remover.h"

#include <QRegularExpression>
#include <QString>

#include <optional>

namespace vornal::config {
class Config;
}

namespace vornal::worker {

// Collects received bytes into lines: one character per byte, the input terminator included, with the
// parity and framing errors noted while the line arrived. A line that grows past `maxLineLength` without
// a terminator (wrong terminator setting, binary noise) is dropped, and so is the rest of it up to the
// next terminator: a fragment of such a line never yields a value that could be typed; its beginning is
// kept (overflowedHead()) so that the line can still be shown and logged, cut and marked.
class LineAssembler {
public:
    static constexpr qsizetype defaultMaxLineLength = 64 * 1024;
    // How much of a dropped line overflowedHead() keeps.
    static constexpr qsizetype overflowHeadLength = 1024;

    explicit LineAssembler(int terminator, qsizetype maxLineLength = defaultMaxLineLength)
        : terminator_(terminator), maxLineLength_(maxLineLength) {
        buffer_.reserve(30);
    }

    enum class Step {
        Pending,  // the byte was added, the line goes on
        Complete, // the byte was the terminator: line() holds the whole line
        Overflow, // the line just grew too long and was dropped (reported once per line)
        Dropped,  // the terminator ended a line that had overflowed: nothing to process
    };

    Step add(quint8 byte);
    // Marks the current line with a parity or framing error.
    void markError() { error_ = true; }

    // After Complete: the line and its error flag; then clear() starts the next line.
    const QString& line() const { return buffer_; }
    bool lineHasError() const { return error_; }
    void clear();

    // Bytes received after the last complete line.
    bool hasPending() const { return !buffer_.isEmpty(); }
    const QString& pending() const { return buffer_; }
    // After Overflow: the first characters of the dropped line (at most overflowHeadLength).
    const QString& overflowedHead() const { return overflowHead_; }
    int terminator() const { return terminator_; }
    qsizetype maxLineLength() const { return maxLineLength_; }

private:
    int terminator_;
    qsizetype maxLineLength_;
    QString buffer_;
    QString overflowHead_;
    bool error_ = false;
    bool overflowed_ = false;
};

// The processing of one complete line on the reading thread, in the fixed order: extraction with the
// pattern, editing, removal of characters, and for numeric instruments removal of white space and number
// formatting. Built once per connection from the settings record.
class LinePipeline {
public:
    enum class Mode {
        Number, // numeric instruments: white space removed, number formatted
        Text,   // barcode readers: the edited text as it is, blanks and all
    };

    // Throws decimal::ProcessingError for settings no connection can work with (an expression that does not
    // compile, an operand that is no number).
    LinePipeline(const config::Config& config, Mode mode);
    LinePipeline(QRegularExpression pattern, int captureGroup, Mode mode, Editor editor, Remover remover,
                 std::optional<NumberFormatter> formatter);

    // The mode the worker of the settings' instrument uses (text presets: Text).
    static Mode modeFor(const config::Config& config);
    // The expression a connection uses: the custom expression when set, else the preset's pattern.
    static QString patternText(const config::Config& config);

    // The bytes of a line (one character per byte, as received) as characters of `encoding`. Never drops
    // anything: in UTF-8 a byte of no valid sequence keeps its ISO 8859-1 meaning.
    static QString decode(const QString& bytes, config::ConfigHelper::InputEncoding encoding);
    // The line's bytes are read in this encoding (the settings' input encoding; default ISO 8859-1).
    void setInputEncoding(config::ConfigHelper::InputEncoding encoding) { encoding_ = encoding; }

    // Counts the line (its bytes, one character each, decoded with the input encoding) and returns its
    // record. Throws decimal::ProcessingError (the count is still taken) when a stage fails: no such capture
    // group, an expression too complex to evaluate on this line, an edit count larger than the value, a value
    // that is not a number.
    DataLine process(const QString& rawLine, bool error);
    // Counts a line that was dropped for its length and returns its record: no value, the raw text `head`
    // followed by a mark that says it was cut.
    DataLine cutOff(const QString& head, qsizetype maxLineLength, bool error);

    qint32 count() const { return count_; }
    Mode mode() const { return mode_; }
    const QRegularExpression& pattern() const { return pattern_; }

    // Step by step, for callers that show where the value came from.
    QString extract(const QString& rawLine) const;

private:
    QRegularExpression pattern_;
    int captureGroup_;
    Mode mode_;
    Editor editor_;
    Remover remover_;
    std::optional<NumberFormatter> formatter_;
    config::ConfigHelper::InputEncoding encoding_ = config::ConfigHelper::InputEncoding::ISO_8859_1;
    qint32 count_ = 0;
};

} // namespace vornal::worker
