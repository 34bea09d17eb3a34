#include "vornal/config/RegexDialect.h"

namespace vornal::config {

namespace {

const QString kDotReplacement = QStringLiteral("[^\\n\\r\\x{85}\\x{2028}\\x{2029}]");

// True when an inline flag group turns on "s" (dot-all), e.g. "(?s)", "(?is:" or "(?s-i)".
bool turnsOnDotAll(const QString& pattern) {
    static const QRegularExpression flags(QStringLiteral("\\(\\?[a-zA-Z]*s[a-zA-Z-]*[:)]"));
    auto it = flags.globalMatch(pattern);
    while (it.hasNext()) {
        const QString group = it.next().captured(0);
        // Only flags before a "-" are turned on.
        const QString on = group.section(u'-', 0, 0);
        if (on.contains(u's'))
            return true;
    }
    return false;
}

// Walks a pattern the way PCRE2 splits it into literal text, escapes and character classes, and calls
// `visit(index, inClass)` for every character that is not part of an escape or \Q...\E quotation.
template <class Visit> void walk(const QString& p, Visit visit) {
    const qsizetype n = p.size();
    bool inClass = false;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = p[i];
        if (c == u'\\' && i + 1 < n) {
            if (p[i + 1] == u'Q') { // quoted until \E or the end
                const qsizetype end = p.indexOf(QStringLiteral("\\E"), i + 2);
                i = end < 0 ? n : end + 1;
            } else {
                ++i; // the escaped character
            }
            continue;
        }
        if (!inClass) {
            if (c == u'[') {
                visit(i, false);
                inClass = true;
                // "[^" and a "]" right after the opening are members, not the end.
                if (i + 1 < n && p[i + 1] == u'^')
                    ++i;
                if (i + 1 < n && p[i + 1] == u']')
                    ++i;
                continue;
            }
            visit(i, false);
            continue;
        }
        // Inside a class: POSIX classes "[:alpha:]" are one unit.
        if (c == u'[' && i + 1 < n && (p[i + 1] == u':' || p[i + 1] == u'.' || p[i + 1] == u'=')) {
            const QString close = QString(p[i + 1]) + u']';
            const qsizetype end = p.indexOf(close, i + 2);
            if (end >= 0) {
                i = end + 1;
                continue;
            }
        }
        if (c == u']') {
            inClass = false;
            continue;
        }
        visit(i, true);
    }
}

} // namespace

QString translateInstrumentRegex(const QString& pattern) {
    if (turnsOnDotAll(pattern))
        return pattern;
    QString out;
    out.reserve(pattern.size() + 32);
    qsizetype copied = 0;
    walk(pattern, [&](qsizetype i, bool inClass) {
        if (inClass || pattern[i] != u'.')
            return;
        out += QStringView(pattern).mid(copied, i - copied);
        out += kDotReplacement;
        copied = i + 1;
    });
    out += QStringView(pattern).mid(copied);
    return out;
}

QRegularExpression compileInstrumentPattern(const QString& pattern) {
    QRegularExpression re(translateInstrumentRegex(pattern));
    re.optimize();
    return re;
}

QStringList instrumentRegexWarnings(const QString& pattern) {
    bool nested = false;
    bool intersection = false;
    walk(pattern, [&](qsizetype i, bool inClass) {
        if (!inClass)
            return;
        if (pattern[i] == u'[')
            nested = true;
        if (pattern[i] == u'&' && i + 1 < pattern.size() && pattern[i + 1] == u'&')
            intersection = true;
    });
    QStringList warnings;
    if (nested)
        warnings << QStringLiteral("The expression has a \"[\" inside a character class. It is taken as a "
                                   "literal \"[\" here, not as a nested class; list the characters in one "
                                   "class instead.");
    if (intersection)
        warnings << QStringLiteral(
            "The expression uses \"&&\" inside a character class. Class intersection is "
            "not supported: \"&&\" matches the character \"&\"; write the remaining "
            "characters as one class instead.");
    return warnings;
}

} // namespace vornal::config
