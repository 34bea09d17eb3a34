// The raw-line display: only printable ASCII comes out, a printable text stays as it is, and every
// other character becomes exactly one "<code>" with its full code (surrogate pairs joined).

#include "FuzzSupport.h"

#include "vornal/worker/DataLine.h"

using vornal::worker::DataLine;

namespace {

void check(QStringView in) {
    const QString out = DataLine::transformControlChars(in);
    for (QChar ch : out)
        VORNAL_FUZZ_CHECK(ch.unicode() >= 0x20 && ch.unicode() <= 0x7E, out.left(200));
    // Already shown text is shown unchanged.
    VORNAL_FUZZ_CHECK(DataLine::transformControlChars(out) == out, out.left(200));

    // Decoding the shown text gives back the input's code points. A "<" in the input is printable and
    // comes out as "<": decoding is unique only without one.
    if (in.contains(u'<'))
        return;
    QString decoded;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i] != u'<') {
            decoded += out[i];
            continue;
        }
        const qsizetype end = out.indexOf(u'>', i);
        VORNAL_FUZZ_CHECK(end > i + 1, out.mid(i, 40));
        bool ok = false;
        const uint code = out.mid(i + 1, end - i - 1).toUInt(&ok);
        VORNAL_FUZZ_CHECK(ok && code <= 0x10FFFF, out.mid(i, 40));
        if (code > 0xFFFF) {
            const char32_t c32 = code;
            decoded += QString::fromUcs4(&c32, 1);
        } else {
            decoded += QChar(char16_t(code));
        }
        i = end;
    }
    VORNAL_FUZZ_CHECK(decoded == in, out.left(200));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As received from a port: one character per byte.
    check(DataLine::textOfBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))));
    // As any text (lone surrogates included): two bytes per UTF-16 unit.
    QString units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units += QChar(char16_t(data[i] | (data[i + 1] << 8)));
    check(units);
    return 0;
}
