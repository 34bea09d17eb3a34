#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace vornal::config {

// The instruments' regular expressions are written for an engine whose "." stops at every line
// terminator (\n, \r, \x85, \u2028, \u2029), while QRegularExpression's "." only stops at \n. Everything
// else the presets use (\d, \s, lazy quantifiers, a "]" first in a class, "\ ") means the same in both.

// Rewrites every unescaped "." outside a character class (and outside \Q...\E) to
// "[^\n\r\x{85}\x{2028}\x{2029}]". A pattern that turns on dot-all with an inline flag ("(?s)") is
// left as it is: there the dot matches everything in both dialects.
QString translateInstrumentRegex(const QString& pattern);

// The pattern translated and compiled without options (in particular without Unicode properties, so
// \d, \s and \w stay ASCII). Check isValid() for custom expressions; the presets always compile.
QRegularExpression compileInstrumentPattern(const QString& pattern);

// Constructs that compile but mean something else than the user probably intends: a class inside a class
// ("[a[b]]", a union in the instruments' dialect, literal "[" here) and class intersection ("[a-z&&[^x]]").
// One sentence per finding, empty when there is nothing to warn about.
QStringList instrumentRegexWarnings(const QString& pattern);

} // namespace vornal::config
