#include "vornal/util/MessageFormat.h"

namespace vornal::util {

QString MessageFormat::format(const QString& pattern, const QStringList& args) {
    QString out;
    out.reserve(pattern.size() + 16);
    bool quoted = false;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = pattern[i];
        if (c == u'\'') {
            if (i + 1 < n && pattern[i + 1] == u'\'') {
                out += u'\'';
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        if (quoted || c != u'{') {
            out += c;
            continue;
        }
        // An argument: find its closing brace, counting nested braces of a format style.
        qsizetype depth = 1;
        qsizetype j = i + 1;
        for (; j < n && depth > 0; ++j) {
            if (pattern[j] == u'{')
                ++depth;
            else if (pattern[j] == u'}')
                --depth;
        }
        if (depth > 0) { // unterminated: keep the rest as text
            out += QStringView(pattern).mid(i);
            break;
        }
        const QString inside = pattern.mid(i + 1, j - i - 2);
        const QString indexText = inside.section(u',', 0, 0).trimmed();
        bool ok = false;
        const int index = indexText.toInt(&ok);
        if (ok && index >= 0 && index < args.size())
            out += args[index];
        else
            out += QStringView(pattern).mid(i, j - i);
        i = j - 1;
    }
    return out;
}

} // namespace vornal::util
