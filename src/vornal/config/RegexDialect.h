#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace vornal::config {

// The instruments' regular expressions are written for an engine whose line terminators are \n, \r,
// \r\n, \x85, \u2028 and \u2029, while QRegularExpression (PCRE2) knows only \n. The differences, and
// how the translation removes them:
// - "." stops at every terminator: an unescaped "." outside a character class (and outside \Q...\E)
//   becomes "[^\n\r\x{85}\x{2028}\x{2029}]", except where dot-all is on ("(?s)" from its point to the
//   end of the enclosing group, "(?s:...)" inside that group); there it matches everything in both.
// - "$" (without multiline) and "\Z" match at the end and before a final terminator (\r\n counting as
//   one); with multiline ("(?m)"), "$" matches before every terminator and "^" after every terminator
//   except at the very end. Never between \r and \n. These become equivalent lookarounds; "\z" and
//   "\A" mean the same in both and stay.
// - "\uXXXX" names a UTF-16 unit (a surrogate pair written as two escapes is one character): it
//   becomes "\x{XXXX}".
// Everything else the presets use (\d, \s, lazy quantifiers, a "]" first in a class, "\ ") means the
// same in both.
QString translateInstrumentRegex(const QString& pattern);

// The pattern translated and compiled without options (in particular without Unicode properties, so
// \d, \s and \w stay ASCII). Check isValid() for custom expressions; the presets always compile.
QRegularExpression compileInstrumentPattern(const QString& pattern);

// Constructs that compile but mean something else than the user probably intends: a class inside a class
// ("[a[b]]", a union in the instruments' dialect, literal "[" here) and class intersection ("[a-z&&[^x]]").
// One sentence per finding, empty when there is nothing to warn about.
QStringList instrumentRegexWarnings(const QString& pattern);

} // namespace vornal::config
