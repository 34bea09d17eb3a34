#pragma once

#include <QString>
#include <QStringView>

namespace vornal::util {

// Every character outside 0x20-0x7E becomes "<" + its decimal code + ">": CR gives "<13>", byte 0xB0
// gives "<176>". A pair of surrogates counts as one character with its full code. For showing received
// text in the event log and in messages.
QString showControlChars(QStringView text);

} // namespace vornal::util
