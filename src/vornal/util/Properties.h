#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>

namespace vornal::util {

// A key=value table in the standard properties text format: ISO 8859-1 bytes, "\uXXXX" escapes for
// everything else, backslash escapes for separators, comment and line-break characters. Files written
// here are read back unchanged by any standard properties reader, and the reader accepts everything
// such a writer produces (continuation lines, ":" or blank as separator, "!" comments).
class Properties {
public:
    // Parses the text leniently: malformed "\u" escapes are kept literally and counted, nothing is
    // refused. `malformed` (optional) receives the number of such escapes.
    static Properties parse(const QByteArray& latin1, int* malformed = nullptr);

    // Reads a whole file. Returns false with a message naming the file and the reason when it
    // cannot be read.
    bool load(const QString& path, QString* error = nullptr, int* malformed = nullptr);

    // The file's text: "#" + comment, "#" + date line, then one line per entry in key order.
    QByteArray serialize(const QString& comment, const QDateTime& when = QDateTime::currentDateTime()) const;

    // Writes atomically (temporary file, then rename): a failure leaves the previous file intact.
    bool save(const QString& path, const QString& comment, QString* error = nullptr) const;

    bool contains(const QString& key) const { return entries_.count(key) != 0; }
    QString value(const QString& key, const QString& fallback = QString()) const;
    void set(const QString& key, const QString& value) { entries_[key] = value; }
    bool remove(const QString& key) { return entries_.erase(key) != 0; }
    QStringList keys() const;
    const std::map<QString, QString>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool isEmpty() const { return entries_.empty(); }

    // The escaping of a key (blanks escaped everywhere) or a value (only a leading blank escaped).
    static QString escape(const QString& text, bool isKey);
    // The date line as the standard writer prints it, e.g. "Mon Dec 07 20:03:26 UTC 2026".
    static QString dateComment(const QDateTime& when);

private:
    std::map<QString, QString> entries_;
};

} // namespace vornal::util
