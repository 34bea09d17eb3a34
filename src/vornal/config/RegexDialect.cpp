#include "vornal/config/RegexDialect.h"

#include <optional>
#include <utility>
#include <vector>

namespace vornal::config {

namespace {

// The dialect's line terminators as members of a PCRE2 class.
#define VORNAL_TERMINATORS "\\n\\r\\x{85}\\x{2028}\\x{2029}"

const QString kDotReplacement = QStringLiteral("[^" VORNAL_TERMINATORS "]");
// "$" without multiline, "\Z": at the end, or before a final \r\n or single terminator; not between \r
// and \n.
const QString kEndReplacement =
    QStringLiteral("(?:(?=(?:\\r\\n|[" VORNAL_TERMINATORS "])?\\z)(?!(?<=\\r)\\n))");
// "$" with multiline: before every terminator and at the end; not between \r and \n.
const QString kLineEndReplacement = QStringLiteral("(?:(?=[" VORNAL_TERMINATORS "]|\\z)(?!(?<=\\r)\\n))");
// "^" with multiline: at the start and after every terminator (not between \r and \n), never at the end.
const QString kLineStartReplacement =
    QStringLiteral("(?:(?:\\A|(?<=[" VORNAL_TERMINATORS "])(?!(?<=\\r)\\n))(?!\\z))");

#undef VORNAL_TERMINATORS

bool isHex(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Whether p[i] starts "\u" with four hex digits.
bool isUnicodeEscape(const QString& p, qsizetype i) {
    if (i + 6 > p.size() || p[i] != u'\\' || p[i + 1] != u'u')
        return false;
    for (qsizetype k = i + 2; k < i + 6; ++k)
        if (!isHex(p[k]))
            return false;
    return true;
}

// Walks a pattern the way PCRE2 splits it and calls `visit(index, length, inClass)` for every unit in
// order: an escape with the character it escapes ("\x{41}" is "\x" and then plain characters), "\cX",
// "\uXXXX", a \Q...\E quotation, a comment "(?#...)", a POSIX class "[:alpha:]" inside a class, the
// opening of a class with its leading "^" and "]" ("[", "[^", "[]", "[^]"; reported outside), or one
// character. The "]" that closes a class is reported inside it.
template <class Visit> void walk(const QString& p, Visit visit) {
    const qsizetype n = p.size();
    bool inClass = false;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = p[i];
        qsizetype len = 1;
        const bool wasInClass = inClass;
        if (c == u'\\' && i + 1 < n) {
            const QChar e = p[i + 1];
            if (e == u'Q') { // quoted until \E or the end
                const qsizetype end = p.indexOf(QStringLiteral("\\E"), i + 2);
                len = (end < 0 ? n : end + 2) - i;
            } else if (isUnicodeEscape(p, i)) {
                len = 6;
            } else if (e == u'c' && i + 2 < n) {
                len = 3;
            } else {
                len = 2;
            }
        } else if (!inClass) {
            if (c == u'[') {
                inClass = true;
                // "[^" and a "]" right after the opening are members, not the end.
                if (i + len < n && p[i + len] == u'^')
                    ++len;
                if (i + len < n && p[i + len] == u']')
                    ++len;
            } else if (c == u'(' && QStringView(p).mid(i, 3) == u"(?#") {
                const qsizetype end = p.indexOf(u')', i + 3);
                len = (end < 0 ? n : end + 1) - i;
            }
        } else if (c == u'[' && i + 1 < n && (p[i + 1] == u':' || p[i + 1] == u'.' || p[i + 1] == u'=')) {
            // Inside a class: POSIX classes "[:alpha:]" are one unit.
            const qsizetype end = p.indexOf(QString(p[i + 1]) + u']', i + 2);
            if (end >= 0)
                len = end + 2 - i;
        } else if (c == u']') {
            inClass = false;
        }
        visit(i, len, wasInClass);
        i += len;
    }
}

// The flags of a scope that change the translation.
struct Flags {
    bool dotAll = false;
    bool multiline = false;
};

// For an inline flag group at p[i] ("(?s)", "(?m-s:", "(?i)"), the flags it sets starting from `current`,
// and whether it opens a group (":") rather than changing the enclosing one (")").
std::optional<std::pair<Flags, bool>> flagGroup(const QString& p, qsizetype i, Flags current) {
    static const QRegularExpression group(QStringLiteral("\\G\\(\\?([a-zA-Z]*)(?:-([a-zA-Z]*))?([:)])"));
    const QRegularExpressionMatch m =
        group.match(p, i, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
    if (!m.hasMatch())
        return std::nullopt;
    auto apply = [&](const QString& letters, bool on) {
        if (letters.contains(u's'))
            current.dotAll = on;
        if (letters.contains(u'm'))
            current.multiline = on;
    };
    apply(m.captured(1), true);
    apply(m.captured(2), false);
    return std::pair{current, m.captured(3) == u":"};
}

// "\uXXXX" at p[i] (and a low surrogate escape right after a high one): the code point and the
// length of text it takes.
std::pair<char32_t, qsizetype> unicodeEscape(const QString& p, qsizetype i) {
    const char32_t unit = p.mid(i + 2, 4).toUInt(nullptr, 16);
    if (QChar::isHighSurrogate(unit) && isUnicodeEscape(p, i + 6)) {
        const char32_t low = p.mid(i + 8, 4).toUInt(nullptr, 16);
        if (QChar::isLowSurrogate(low))
            return {QChar::surrogateToUcs4(char16_t(unit), char16_t(low)), 12};
    }
    return {unit, 6};
}

} // namespace

QString translateInstrumentRegex(const QString& pattern) {
    QString out;
    out.reserve(pattern.size() + 32);
    // The flags of every open group; the last is the current scope.
    std::vector<Flags> scopes{Flags{}};
    qsizetype skipUntil = 0; // the low half of a surrogate pair already written
    walk(pattern, [&](qsizetype i, qsizetype len, bool inClass) {
        if (i < skipUntil)
            return;
        const QStringView unit = QStringView(pattern).mid(i, len);
        if (len == 6 && isUnicodeEscape(pattern, i)) {
            const auto [codePoint, taken] = unicodeEscape(pattern, i);
            skipUntil = i + taken;
            out += QStringLiteral("\\x{%1}").arg(uint(codePoint), 0, 16);
            return;
        }
        if (inClass || len > 1) {
            out += unit == u"\\Z" && !inClass ? kEndReplacement : unit.toString();
            return;
        }
        const Flags flags = scopes.back();
        switch (unit.front().unicode()) {
        case u'.':
            out += flags.dotAll ? QStringLiteral(".") : kDotReplacement;
            return;
        case u'$':
            out += flags.multiline ? kLineEndReplacement : kEndReplacement;
            return;
        case u'^':
            out += flags.multiline ? kLineStartReplacement : QStringLiteral("^");
            return;
        case u'(':
            if (const auto set = flagGroup(pattern, i, flags)) {
                // "(?s)" changes the enclosing group from here on; "(?s:" only its own group. The
                // ")" of "(?s)" closes a scope like any other.
                if (!set->second)
                    scopes.back() = set->first;
                scopes.push_back(set->first);
            } else {
                scopes.push_back(flags);
            }
            break;
        case u')':
            if (scopes.size() > 1)
                scopes.pop_back();
            break;
        default:
            break;
        }
        out += unit;
    });
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
    walk(pattern, [&](qsizetype i, qsizetype len, bool inClass) {
        if (!inClass || len != 1)
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
