#include "vornal/worker/Remover.h"

#include "vornal/config/Config.h"

#include <algorithm>

namespace vornal::worker {

namespace {

// The character at `i` and how many UTF-16 units it takes. A lone surrogate is a character of its own.
char32_t codeAt(const QString& text, qsizetype i, int* units) {
    const char16_t c = text[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
        *units = 2;
        return QChar::surrogateToUcs4(c, text[i + 1].unicode());
    }
    *units = 1;
    return c;
}

} // namespace

Remover::Remover(const QString& removeCharacters) : characters_(removeCharacters) {
    for (qsizetype i = 0; i < characters_.size();) {
        int units = 1;
        const char32_t code = codeAt(characters_, i, &units);
        if (code < 256)
            latin1_.set(code);
        else
            other_.push_back(code);
        i += units;
    }
}

Remover Remover::fromConfig(const config::Config& config) {
    return Remover(config.getRemoveCharacters());
}

bool Remover::contains(char32_t code) const {
    if (code < 256)
        return latin1_.test(code);
    return std::find(other_.begin(), other_.end(), code) != other_.end();
}

QString Remover::removeCharacters(const QString& value) const {
    if (value.isEmpty() || characters_.isEmpty())
        return value;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size();) {
        int units = 1;
        if (!contains(codeAt(value, i, &units)))
            out += QStringView(value).mid(i, units);
        i += units;
    }
    return out;
}

} // namespace vornal::worker
