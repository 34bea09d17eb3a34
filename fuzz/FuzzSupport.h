#pragma once

// Shared pieces of the fuzz targets: a byte reader for the settings header that several targets put in
// front of their data, quiet Qt logging, and a check that aborts with a message (libFuzzer then keeps the
// input as a crash).

#include "vornal/config/Config.h"
#include "vornal/config/ConfigHelper.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vornal::fuzz {

// Reads the fuzz input from the front; past the end every read gives 0.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // A value 0..n-1.
    int pick(int n) { return n <= 0 ? 0 : byte() % n; }
    bool flag() { return (byte() & 1) != 0; }
    // `n` bytes (fewer at the end) as a text of one character per byte.
    QString latin1(size_t n) {
        const size_t take = qMin(n, size_ - pos_);
        QString s = QString::fromLatin1(reinterpret_cast<const char*>(data_ + pos_), qsizetype(take));
        pos_ += take;
        return s;
    }
    const uint8_t* rest() const { return data_ + pos_; }
    size_t restSize() const { return size_ - pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Stops the run with a message naming the broken promise.
[[noreturn]] inline void fail(const char* what, const QString& detail = QString()) {
    std::fprintf(stderr, "fuzz check failed: %s %s\n", what, qPrintable(detail));
    std::abort();
}
#define VORNAL_FUZZ_CHECK(cond, detail)                                                                      \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            ::vornal::fuzz::fail(#cond, (detail));                                                           \
    } while (0)

// Qt's own warnings (and the stores' diagnostics) would flood the fuzzer's output.
inline void quietQt() {
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "qFatal: %s\n", qPrintable(msg));
            std::abort();
        }
    });
}

// The number of settings headers read by settingsFromHeader().
constexpr int kSettingsHeaderSize = 9;

// A settings record for the preset chosen by the header's first byte, with the processing options drawn
// from the next bytes out of the values users really type (and a few the settings checks refuse, so that
// the stages see them too). Exactly kSettingsHeaderSize bytes are read.
inline config::Config settingsFromHeader(ByteReader& in) {
    using H = config::ConfigHelper;
    const auto& presets = H::Instrument::values();
    const H::Instrument preset = presets[size_t(in.pick(int(presets.size())))];
    config::Config c = preset.getDefaultConfig();
    c.setInstrument(preset);

    static const char* const places[] = {"", "", "0", "1", "2", "3", "7", "8", "-1", "x"};
    c.setDecimalPlaces(QString::fromLatin1(places[in.pick(std::size(places))]));
    c.setRoundingMethod(
        H::RoundingMethod::values()[size_t(in.pick(int(H::RoundingMethod::values().size())))]);

    static const char* const operands[] = {"", "2", "0.001", "1000", "-3", "0.0", "1E3", "7.25", "x", "0"};
    c.setMathOperation(H::MathOperation::values()[size_t(in.pick(3))]);
    c.setMathOperand(QString::fromLatin1(operands[in.pick(std::size(operands))]));

    static const char* const counts[] = {"", "", "1", "2", "5", "99", "0", "-2"};
    const uint8_t edit = in.byte();
    c.setEditOperation(edit & 1 ? H::EditOperation::KEEP : H::EditOperation::REMOVE);
    c.setEditPosition(edit & 2 ? H::EditPosition::LAST : H::EditPosition::FIRST);
    c.setEditNumCharacters(QString::fromLatin1(counts[(edit >> 2) % std::size(counts)]));

    static const char* const removals[] = {"", "", "gk ", "+", "-", ".,", "0", "\r\n", "\xb0", "ST,GS"};
    c.setRemoveCharacters(QString::fromLatin1(removals[in.pick(std::size(removals))]));

    static const char* const limits[] = {"", "1", "500", "x"};
    static const char* const diffs[] = {"", "0.01", "1", "x"};
    const uint8_t ign = in.byte();
    c.ignoreDuplicates = (ign & 1) != 0;
    c.setIgnoreTimeLimit(QString::fromLatin1(limits[(ign >> 1) % std::size(limits)]));
    c.setIgnoreDifference(QString::fromLatin1(diffs[(ign >> 3) % std::size(diffs)]));
    c.setDecimalSeparator((ign & 0x40) ? H::DecimalSeparator::COMMA : H::DecimalSeparator::DOT);

    const uint8_t term = in.byte();
    if (term & 0x80) // an unusual terminator: another control character, or a printable one
        c.setInputTerminator(term & 0x7F);
    return c;
}

} // namespace vornal::fuzz
