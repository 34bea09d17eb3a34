#include "vornal/util/Properties.h"
#include "vornal/util/RegularFile.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <QTimeZone>

namespace vornal::util {

namespace {

QString unicodeEscape(char16_t c) {
    return QStringLiteral("\\u") + QString::number(uint(c), 16).toUpper().rightJustified(4, u'0');
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\f';
}

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Undoes the escapes of one key or value.
QString unescape(const QString& in, int* malformed) {
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        QChar c = in[i];
        if (c != u'\\' || i + 1 >= in.size()) {
            out += c;
            continue;
        }
        c = in[++i];
        switch (c.unicode()) {
        case u't':
            out += u'\t';
            break;
        case u'n':
            out += u'\n';
            break;
        case u'r':
            out += u'\r';
            break;
        case u'f':
            out += u'\f';
            break;
        case u'u': {
            int v = 0;
            bool ok = i + 4 < in.size();
            for (int k = 1; ok && k <= 4; ++k) {
                const int h = hexValue(in[i + k]);
                ok = h >= 0;
                v = v * 16 + h;
            }
            if (ok) {
                out += QChar(char16_t(v));
                i += 4;
            } else {
                // A standard reader refuses the whole file here; we keep the text as it stands.
                if (malformed)
                    ++*malformed;
                out += u'u';
            }
            break;
        }
        default:
            out += c;
            break;
        }
    }
    return out;
}

// Splits the text into logical lines: natural lines joined where a line ends in an odd number of
// backslashes, comment and blank lines dropped, leading blanks of every natural line removed.
QStringList logicalLines(const QString& text) {
    QStringList result;
    QString current;
    bool continuing = false;
    qsizetype pos = 0;
    const qsizetype n = text.size();
    while (pos <= n) {
        qsizetype end = pos;
        while (end < n && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        QString line = text.mid(pos, end - pos);
        if (end < n && text[end] == u'\r' && end + 1 < n && text[end + 1] == u'\n')
            ++end;
        pos = end + 1;

        qsizetype start = 0;
        while (start < line.size() && isBlank(line[start]))
            ++start;
        line = line.mid(start);
        if (!continuing) {
            if (line.isEmpty())
                continue;
            if (line[0] == u'#' || line[0] == u'!')
                continue;
        }
        qsizetype slashes = 0;
        for (qsizetype k = line.size() - 1; k >= 0 && line[k] == u'\\'; --k)
            ++slashes;
        if (slashes % 2 == 1) {
            current += line.left(line.size() - 1);
            continuing = true;
            if (pos > n) // file ends inside a continuation
                result += current;
            continue;
        }
        current += line;
        result += current;
        current.clear();
        continuing = false;
    }
    return result;
}

} // namespace

Properties Properties::parse(const QByteArray& latin1, int* malformed) {
    if (malformed)
        *malformed = 0;
    Properties p;
    const QString text = QString::fromLatin1(latin1);
    for (const QString& line : logicalLines(text)) {
        qsizetype i = 0;
        bool escaped = false;
        while (i < line.size()) {
            const QChar c = line[i];
            if (escaped) {
                escaped = false;
            } else if (c == u'\\') {
                escaped = true;
            } else if (c == u'=' || c == u':' || isBlank(c)) {
                break;
            }
            ++i;
        }
        const QString rawKey = line.left(i);
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i < line.size() && (line[i] == u'=' || line[i] == u':'))
            ++i;
        while (i < line.size() && isBlank(line[i]))
            ++i;
        int bad = 0;
        const QString key = unescape(rawKey, &bad);
        const QString value = unescape(line.mid(i), &bad);
        if (malformed)
            *malformed += bad;
        p.entries_[key] = value;
    }
    return p;
}

bool Properties::load(const QString& path, QString* error, int* malformed) {
    // A FIFO or a device in the file's place is refused: reading it could block for ever.
    QFile f(path);
    QString why;
    if (!openRegularFile(f, QIODevice::ReadOnly, &why)) {
        if (error)
            *error = QStringLiteral("Cannot read %1").arg(why);
        return false;
    }
    *this = parse(f.readAll(), malformed);
    if (f.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

QString Properties::value(const QString& key, const QString& fallback) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? fallback : it->second;
}

QStringList Properties::keys() const {
    QStringList k;
    for (const auto& e : entries_)
        k += e.first;
    return k;
}

QString Properties::escape(const QString& text, bool isKey) {
    QString out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 61 && c < 127) {
            if (c == u'\\')
                out += u"\\\\";
            else
                out += QChar(c);
            continue;
        }
        switch (c) {
        case u' ':
            if (i == 0 || isKey)
                out += u'\\';
            out += u' ';
            break;
        case u'\t':
            out += u"\\t";
            break;
        case u'\n':
            out += u"\\n";
            break;
        case u'\r':
            out += u"\\r";
            break;
        case u'\f':
            out += u"\\f";
            break;
        case u'=':
        case u':':
        case u'#':
        case u'!':
            out += u'\\';
            out += QChar(c);
            break;
        default:
            if (c < 0x20 || c > 0x7e)
                out += unicodeEscape(c);
            else
                out += QChar(c);
        }
    }
    return out;
}

QString Properties::dateComment(const QDateTime& when) {
    // The standard writer's date form: "EEE MMM dd HH:mm:ss zzz yyyy" in English.
    const QLocale c = QLocale::c();
    QString zone = when.timeZoneAbbreviation();
    if (zone.isEmpty())
        zone = QStringLiteral("UTC");
    return c.toString(when, QStringLiteral("ddd MMM dd HH:mm:ss ")) + zone +
           c.toString(when, QStringLiteral(" yyyy"));
}

QByteArray Properties::serialize(const QString& comment, const QDateTime& when) const {
    QString text;
    // Comments keep Latin-1 characters and escape the rest, as the standard writer does.
    auto commentLine = [](const QString& c) {
        QString line = QStringLiteral("#");
        for (QChar ch : c) {
            if (ch == u'\n' || ch == u'\r')
                line += QStringLiteral("\n#");
            else if (ch.unicode() > 0xff)
                line += unicodeEscape(ch.unicode());
            else
                line += ch;
        }
        return line + u'\n';
    };
    if (!comment.isNull())
        text += commentLine(comment);
    text += commentLine(dateComment(when));
    for (const auto& [k, v] : entries_)
        text += escape(k, true) + u'=' + escape(v, false) + u'\n';
    return text.toLatin1();
}

bool Properties::save(const QString& path, const QString& comment, QString* error) const {
    // The save renames a new file over the target: never over a device or a FIFO.
    if (const QString why = notRegularFile(path); !why.isEmpty()) {
        if (error)
            *error = QStringLiteral("Cannot write %1").arg(why);
        return false;
    }
    QSaveFile f(path);
    const QByteArray data = serialize(comment);
    // flush() before commit(): a write error that only shows when the buffer goes out (full disk,
    // file-size limit) must cancel the save instead of renaming a cut-off file into place.
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.flush() || !f.commit()) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

} // namespace vornal::util
