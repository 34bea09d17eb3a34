// Properties text: whatever is read is written back so that reading it again gives the same table, and
// escaping never loses a character.

#include "FuzzSupport.h"

#include "vornal/util/Properties.h"

#include <QDateTime>

using vornal::util::Properties;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = (vornal::fuzz::quietQt(), true);
    (void)once;

    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    int malformed = 0;
    const Properties first = Properties::parse(text, &malformed);
    VORNAL_FUZZ_CHECK(malformed >= 0, QString::number(malformed));

    const QDateTime when = QDateTime::fromSecsSinceEpoch(1796000000, Qt::UTC);
    const QByteArray written = first.serialize(QStringLiteral("fuzz"), when);
    int malformedAgain = 0;
    const Properties second = Properties::parse(written, &malformedAgain);
    VORNAL_FUZZ_CHECK(malformedAgain == 0, QString::fromLatin1(written.left(200)));
    VORNAL_FUZZ_CHECK(first.entries() == second.entries(), QString::fromLatin1(written.left(200)));

    // Written text is plain ISO 8859-1 in the 7-bit range: every other character is a \u escape.
    for (char ch : written)
        VORNAL_FUZZ_CHECK(static_cast<unsigned char>(ch) < 0x80, QString::number(uchar(ch)));

    // A second write is identical to the first: nothing drifts on every save.
    VORNAL_FUZZ_CHECK(second.serialize(QStringLiteral("fuzz"), when) == written, QString());
    return 0;
}
