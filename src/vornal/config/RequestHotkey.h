#pragma once

// The notation of the global request shortcut, as the settings and the command line hold it. Callers name
// it through ConfigHelper (ConfigHelper::RequestHotkey).

#include <QString>

#include <optional>

namespace vornal::config::rules {

// The global shortcut that sends the request: empty, or modifiers and a key joined by "+", as in
// "Ctrl+Alt+R" or "Shift+F9". Modifiers Ctrl, Alt, Shift, Meta (any case); keys A-Z, 0-9, F1-F24.
struct RequestHotkey {
    enum Modifier : unsigned { Ctrl = 1, Alt = 2, Shift = 4, Meta = 8 };
    struct Parsed {
        unsigned modifiers;
        QString key; // "R", "7", "F9"
    };
    static QString getDefault() { return QString(""); }
    static bool valid(const QString& text) { return text.isEmpty() || parse(text).has_value(); }
    static std::optional<Parsed> parse(const QString& text);
};

} // namespace vornal::config::rules
