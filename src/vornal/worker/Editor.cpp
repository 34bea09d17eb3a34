#include "vornal/worker/Editor.h"

#include "vornal/config/Config.h"
#include "vornal/decimal/Decimal.h"

namespace vornal::worker {

namespace {

// Index of the UTF-16 unit where character `n` (counted in code points) starts; the length of the text
// for n == number of characters.
qsizetype unitIndexOf(const QString& text, qsizetype n) {
    qsizetype unit = 0;
    for (qsizetype i = 0; i < n; ++i)
        unit += (QChar::isHighSurrogate(text[unit].unicode()) && unit + 1 < text.size() &&
                 QChar::isLowSurrogate(text[unit + 1].unicode()))
                    ? 2
                    : 1;
    return unit;
}

qsizetype characterCount(const QString& text) {
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++count) {
        if (QChar::isHighSurrogate(text[i].unicode()) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode()))
            ++i;
    }
    return count;
}

} // namespace

Editor Editor::fromConfig(const config::Config& config) {
    using C = config::Config;
    return Editor(config.getEditOperation() == C::EditOperation::KEEP ? Operation::KEEP : Operation::REMOVE,
                  config.getEditPosition() == C::EditPosition::LAST ? Position::LAST : Position::FIRST,
                  config.getEditNumCharactersAsInt());
}

QString Editor::edit(const QString& value) const {
    if (numCharacters_ <= 0 || value.isEmpty())
        return value;
    const qsizetype length = characterCount(value);
    const qsizetype n = numCharacters_;
    if (n > length) {
        throw decimal::ProcessingError(
            QStringLiteral(
                "Cannot %1 the %2 %3 characters of the value %4: it has only %5. Lower the number of "
                "characters to edit or check the extracted value.")
                .arg(operation_ == Operation::KEEP ? QStringLiteral("keep") : QStringLiteral("remove"),
                     position_ == Position::FIRST ? QStringLiteral("first") : QStringLiteral("last"))
                .arg(n)
                .arg(decimal::quotedValue(value))
                .arg(length));
    }
    // The unit index where the first n, or the last n, characters begin or end.
    const qsizetype split = unitIndexOf(value, position_ == Position::FIRST ? n : length - n);
    const bool takeFront = (operation_ == Operation::KEEP) == (position_ == Position::FIRST);
    return takeFront ? value.left(split) : value.mid(split);
}

} // namespace vornal::worker
