#pragma once
// A strict reader of the data log's CSV format, for the data-log tests.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>
#include <vector>

namespace vornal::test {

using Table = std::vector<std::vector<QString>>;

// A strict reader of the format: UTF-8 with byte-order mark, CR LF after every row (the last included),
// quoted fields with doubled quotes. None when the text is not such a file.
inline std::optional<Table> parseCsv(const QByteArray& bytes) {
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return std::nullopt;
    const QString text = QString::fromUtf8(bytes.mid(3));
    Table rows;
    std::vector<QString> row;
    QString f;
    bool quoted = false, inQuotes = false, fieldStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                f += u'"';
                ++i;
            } else if (c == u'"') {
                inQuotes = false;
            } else {
                f += c;
            }
            continue;
        }
        if (c == u'"') {
            if (!fieldStart)
                return std::nullopt;
            inQuotes = quoted = true;
            fieldStart = false;
        } else if (c == u',' || c == u'\r') {
            row.push_back(f);
            f.clear();
            quoted = false;
            fieldStart = true;
            if (c == u'\r') {
                if (i + 1 >= text.size() || text[i + 1] != u'\n')
                    return std::nullopt;
                ++i;
                rows.push_back(std::move(row));
                row.clear();
            }
        } else if (c == u'\n' || quoted) {
            return std::nullopt;
        } else {
            f += c;
            fieldStart = false;
        }
    }
    if (inQuotes || !row.empty() || !f.isEmpty() || !fieldStart)
        return std::nullopt; // a row cut off
    return rows;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace vornal::test
