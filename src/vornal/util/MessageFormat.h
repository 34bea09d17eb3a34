#pragma once

#include <QString>
#include <QStringList>

namespace vornal::util {

// Fills "{0}"-style placeholders the way the standard message format does:
//  - "{n}" is replaced by args[n]; a format type after the index ("{0,number}") is accepted and ignored,
//    the argument is inserted as given;
//  - "''" gives one quote; text between single quotes is literal ("'{0}'" prints "{0}");
//  - "{n}" with no argument n stays as written;
//  - an unterminated "{" (bad pattern) is kept literally rather than failing, so a faulty translation
//    still shows its text.
class MessageFormat {
public:
    static QString format(const QString& pattern, const QStringList& args);

    template <class... Args> static QString format(const QString& pattern, const Args&... args) {
        return format(pattern, QStringList{toText(args)...});
    }

private:
    static QString toText(const QString& s) { return s; }
    static QString toText(const char* s) { return QString::fromUtf8(s); }
    static QString toText(QChar c) { return QString(c); }
    template <class N> static QString toText(N n) { return QString::number(n); }
};

} // namespace vornal::util
