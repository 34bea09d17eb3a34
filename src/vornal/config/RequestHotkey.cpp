#include "vornal/config/RequestHotkey.h"

#include "vornal/config/TextRules.h"

#include <QStringList>

namespace vornal::config::rules {

std::optional<RequestHotkey::Parsed> RequestHotkey::parse(const QString& text) {
    const QStringList parts = text.split(u'+');
    Parsed p{0, QString()};
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const QString m = parts[i].trimmed().toLower();
        // Also as a German desktop writes them (the hotkey field shows the desktop's notation).
        const unsigned bit = m == u"ctrl" || m == u"control" || m == u"strg" ? Ctrl
                             : m == u"alt"                                   ? Alt
                             : m == u"shift" || m == u"umschalt"             ? Shift
                             : m == u"meta" || m == u"super"                 ? Meta
                                                                             : 0u;
        if (bit == 0 || (p.modifiers & bit))
            return std::nullopt;
        p.modifiers |= bit;
    }
    const QString key = parts.last().trimmed().toUpper();
    if (key.size() == 1 && ((key[0] >= u'A' && key[0] <= u'Z') || (key[0] >= u'0' && key[0] <= u'9'))) {
        // A letter or digit alone would take that key from every application.
        if (p.modifiers == 0 || p.modifiers == Shift)
            return std::nullopt;
    } else if (!(key.size() >= 2 && key[0] == u'F' && key[1] >= u'1' && key[1] <= u'9' &&
                 wholeInRange(key.mid(1), 1, 24))) {
        return std::nullopt;
    }
    // Ctrl+Alt+F1..F12 switch to the text consoles on Linux desktops: the program would never see them.
    if ((p.modifiers & (Ctrl | Alt)) == (Ctrl | Alt) && key.size() >= 2 && key[0] == u'F' &&
        key.mid(1).toInt() <= 12)
        return std::nullopt;
    p.key = key;
    return p;
}

} // namespace vornal::config::rules
