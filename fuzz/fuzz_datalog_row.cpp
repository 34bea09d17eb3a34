// The data-log row writer: whatever the fields hold, a row is one CSV record ending in CR LF that a strict
// reader splits back into exactly the seven fields: the same texts, except a leading apostrophe where a
// spreadsheet would run a formula, never in the value column when the value is a plain number, and a raw
// line over the limit cut and marked.
// Input: the six text fields (port, instrument, raw line, value, result, preset) separated by 0x1F, as UTF-8.

#include "FuzzSupport.h"

#include "vornal/worker/DataLog.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <vector>

using vornal::worker::DataLog;

namespace {

// A strict reader of one record: quoted fields with doubled quotes, ',' between fields, CR LF at the end.
std::vector<QString> readRecord(const QString& text) {
    std::vector<QString> fields;
    QString f;
    qsizetype i = 0;
    VORNAL_FUZZ_CHECK(text.endsWith(QStringLiteral("\r\n")), text.right(40));
    const qsizetype end = text.size() - 2;
    for (;;) {
        f.clear();
        if (i < end && text[i] == u'"') {
            ++i;
            for (;;) {
                VORNAL_FUZZ_CHECK(i < end, text.left(200));
                if (text[i] == u'"') {
                    if (i + 1 < end && text[i + 1] == u'"') {
                        f += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                f += text[i++];
            }
            VORNAL_FUZZ_CHECK(i == end || text[i] == u',', text.left(200));
        } else {
            while (i < end && text[i] != u',') {
                VORNAL_FUZZ_CHECK(text[i] != u'"' && text[i] != u'\r' && text[i] != u'\n', text.left(200));
                f += text[i++];
            }
        }
        fields.push_back(f);
        if (i == end)
            return fields;
        ++i; // the comma
    }
}

bool plainNumber(const QString& text) {
    // Anchored: "$" alone would also match before a final line break.
    static const QRegularExpression number(
        QRegularExpression::anchoredPattern(QStringLiteral("[+-]?[0-9.,]*[0-9][0-9.,]*")));
    return number.match(text).hasMatch();
}

bool startsFormula(const QString& text) {
    return text.startsWith(u'=') || text.startsWith(u'@') || text.startsWith(u'+') || text.startsWith(u'-');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (vornal::fuzz::quietQt(), true);
    (void)quiet;
    const QString all = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList parts = all.split(QChar(0x1F));
    while (parts.size() < 6)
        parts += QString();
    DataLog::Row row{QDateTime(QDate(2026, 12, 8), QTime(14, 3, 7, 125), QTimeZone(3600)),
                     parts[0],
                     parts[1],
                     parts[2],
                     parts[3],
                     parts[4],
                     parts[5]};
    const QByteArray bytes = DataLog::formatRow(row);
    const QString text = QString::fromUtf8(bytes);
    const std::vector<QString> fields = readRecord(text);
    VORNAL_FUZZ_CHECK(fields.size() == 7, text.left(200));
    VORNAL_FUZZ_CHECK(fields[0] == QStringLiteral("2026-12-08T14:03:07.125+01:00"), fields[0]);
    const QString* given[] = {&row.port,  &row.instrument, &row.rawLine,
                              &row.value, &row.outcome,    &row.preset};
    for (int k = 0; k < 6; ++k) {
        QString expected = *given[k];
        if (k == 2 && expected.size() > DataLog::MAX_LINE_FIELD)
            expected =
                expected.left(DataLog::MAX_LINE_FIELD) +
                QStringLiteral(" [cut: %1 more characters]").arg(given[k]->size() - DataLog::MAX_LINE_FIELD);
        const QString& got = fields[size_t(k + 1)];
        if (k == 3 && plainNumber(expected)) {
            VORNAL_FUZZ_CHECK(got == expected, QStringLiteral("value column changed a number: ") + expected);
            continue;
        }
        // Either the text itself, or the text behind an apostrophe when it would start a formula.
        VORNAL_FUZZ_CHECK(got == expected || (got == u'\'' + expected && startsFormula(expected)),
                          QStringLiteral("field %1: %2 -> %3").arg(k).arg(expected.left(80), got.left(80)));
        // Nothing a spreadsheet would run comes out unguarded (numbers aside).
        if (got.startsWith(u'=') || got.startsWith(u'@'))
            VORNAL_FUZZ_CHECK(false, got.left(80));
    }
    return 0;
}
