// Exact decimals: parse -> plain text -> parse gives the same number (and the same decimals when the
// scale is not negative); the arithmetic is exact; the number formatter fails with ProcessingError and
// nothing else, and what it prints is a decimal number again.

#include "FuzzSupport.h"

#include "vornal/decimal/Decimal.h"
#include "vornal/worker/NumberFormatter.h"

#include <exception>

using vornal::decimal::Decimal;
using vornal::decimal::ProcessingError;
using vornal::decimal::RoundingMode;
using vornal::worker::NumberFormat;
using vornal::worker::NumberFormatter;

namespace {

void checkRoundTrip(const Decimal& d, const QString& text) {
    const QString plain = d.toPlainString();
    const auto again = Decimal::parse(plain);
    VORNAL_FUZZ_CHECK(again.has_value(), text.left(80) + QStringLiteral(" -> ") + plain.left(80));
    VORNAL_FUZZ_CHECK(again->sameValue(d), text.left(80) + QStringLiteral(" -> ") + plain.left(80));
    if (d.scale() >= 0)
        VORNAL_FUZZ_CHECK(again->scale() == d.scale() && again->toPlainString() == plain, plain.left(80));
    // A comma as separator changes nothing but the separator.
    const QString comma = d.toPlainString(u',');
    VORNAL_FUZZ_CHECK(QString(comma).replace(u',', u'.') == plain, comma.left(80));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = (vornal::fuzz::quietQt(), true);
    (void)once;
    vornal::fuzz::ByteReader in(data, size);
    const uint8_t settings = in.byte();
    const uint8_t math = in.byte();

    // The value and a second operand, split at the first "|".
    const QString all = in.latin1(in.restSize());
    const qsizetype bar = all.indexOf(u'|');
    const QString text = bar < 0 ? all : all.left(bar);
    const QString other = bar < 0 ? QStringLiteral("3") : all.mid(bar + 1);

    QString why;
    const auto a = Decimal::parse(text, &why);
    VORNAL_FUZZ_CHECK(a.has_value() == why.isEmpty(), text.left(80));
    if (a) {
        checkRoundTrip(*a, text);
        VORNAL_FUZZ_CHECK(a->negate().negate() == *a && a->abs().signum() >= 0, text.left(80));
        if (const auto b = Decimal::parse(other)) {
            checkRoundTrip(*b, other);
            // Plain digits are cheap; very long numbers only slow the run down without news.
            if (a->toPlainString().size() + b->toPlainString().size() < 4000) {
                const Decimal sum = a->add(*b);
                VORNAL_FUZZ_CHECK(sum.subtract(*b) == *a, text.left(80));
                VORNAL_FUZZ_CHECK(a->multiply(*b).compare(b->multiply(*a)) == 0, text.left(80));
                const auto mode = static_cast<RoundingMode>(settings % 7);
                try {
                    const Decimal q = a->divide(*b, settings % 12, mode);
                    VORNAL_FUZZ_CHECK(q.scale() == settings % 12, text.left(80));
                    VORNAL_FUZZ_CHECK(!b->isZero(), other.left(80));
                } catch (const ProcessingError&) {
                    VORNAL_FUZZ_CHECK(b->isZero(), other.left(80));
                }
                const Decimal r = a->setScale(settings % 9, mode);
                VORNAL_FUZZ_CHECK(r.scale() == settings % 9, text.left(80));
                // Rounding moves the value by less than one unit of the last kept place.
                const Decimal unit(mpz_class(1), settings % 9);
                VORNAL_FUZZ_CHECK(r.subtract(*a).abs() < unit, text.left(80));
            }
        }
    }

    // The formatter: only ProcessingError may escape, and every result is a number.
    NumberFormat format;
    if (settings & 0x80)
        format.roundingPrecision = (settings >> 3) % 9;
    format.roundingMode = static_cast<RoundingMode>(settings % 7);
    format.mathOperation = static_cast<NumberFormat::MathOperation>(math % 3);
    if (math & 0x10)
        format.mathOperand = Decimal::parse(other);
    format.decimalSeparator = (math & 0x20) ? u',' : u'.';
    try {
        NumberFormatter formatter(format);
        const QString out = formatter.format(text);
        VORNAL_FUZZ_CHECK(!out.isEmpty(), text.left(80));
        const auto back = Decimal::parse(QString(out).replace(format.decimalSeparator, u'.'));
        VORNAL_FUZZ_CHECK(back.has_value(), text.left(80) + QStringLiteral(" -> ") + out.left(80));
        VORNAL_FUZZ_CHECK(!out.contains(u'E') && !out.contains(u'e'), out.left(80));
        VORNAL_FUZZ_CHECK(back->sameValue(formatter.number()) || format.roundingPrecision ||
                              format.mathOperation != NumberFormat::MathOperation::NONE,
                          out.left(80));
        if (format.roundingPrecision)
            VORNAL_FUZZ_CHECK(back->scale() <= *format.roundingPrecision, out.left(80));
    } catch (const ProcessingError&) {
    }
    return 0;
}
