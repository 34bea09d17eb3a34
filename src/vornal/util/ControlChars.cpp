#include "vornal/util/ControlChars.h"

namespace vornal::util {

QString showControlChars(QStringView text) {
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c <= 0x7E) {
            out += QChar(c);
            continue;
        }
        char32_t code = c;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            code = QChar::surrogateToUcs4(c, text[i + 1].unicode());
            ++i;
        }
        out += u'<';
        out += QString::number(uint(code));
        out += u'>';
    }
    return out;
}

} // namespace vornal::util
