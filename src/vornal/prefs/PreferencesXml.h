#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace vornal::prefs {

class AbstractPreferences;

// A file that is not a preferences export, or one this program refuses to read (see PreferencesXml).
class InvalidPreferencesFormatException : public std::runtime_error {
public:
    explicit InvalidPreferencesFormatException(const QString& message)
        : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// The preferences export document: one node's entries with the node's path, in the layout every
// preferences export uses (so files interchange with other programs that read and write it):
//
//   <?xml version="1.0" encoding="UTF-8" standalone="no"?>
//   <!DOCTYPE preferences SYSTEM "http://java.sun.com/dtd/preferences.dtd">
//   <preferences EXTERNAL_XML_VERSION="1.0">
//     <root type="user">
//       <map/>
//       <node name="halvorn">
//         <map/>
//         <node name="Vornal">
//           <map>
//             <entry key="bitRate" value="7"/>
//           </map>
//         </node>
//       </node>
//     </root>
//   </preferences>
//
// The reader is strict and safe with files from anywhere: at most MAX_FILE_SIZE bytes; the document
// type must be "preferences" with the system identifier above and no internal subset (so no entity
// declarations and nothing to expand); no entity references; exactly the structure above, with entries
// only in the innermost node. Layout: docs/settings-export.md.
class PreferencesXml {
public:
    static constexpr qint64 MAX_FILE_SIZE = 1024 * 1024;
    static constexpr const char* DTD_SYSTEM_ID = "http://java.sun.com/dtd/preferences.dtd";
    static constexpr const char* EXTERNAL_XML_VERSION = "1.0";

    using Entries = std::vector<std::pair<QString, QString>>;
    // Processing instructions (<?target data?>): (target, data). Readers of the format ignore them, so
    // a program keeps additions there that older readers must not trip over.
    using Instructions = std::vector<std::pair<QString, QString>>;

    struct Document {
        // Absolute path of the node that holds the entries ("/halvorn/Vornal").
        QString nodePath;
        // In file order.
        Entries entries;
        // The processing instructions in that node's content (outside its <map>), in file order.
        Instructions instructions;
    };

    // The document text for the node at `nodePath` (absolute, not "/") holding `entries`, in the given
    // order, and `instructions` after its <map>. Throws InvalidPreferencesFormatException when a key or
    // value holds a character an XML file cannot carry (control characters other than tab, line feed and
    // carriage return), naming the key, or when an instruction cannot be written as one.
    static QByteArray toDocument(const QString& nodePath, const Entries& entries,
                                 const Instructions& instructions = {});

    // `text` as an attribute value in double quotes: markup characters and tab, line feed and carriage
    // return as references (so it never holds "?>" either).
    static QString escapeAttribute(const QString& text);
    // The attributes, in order, of the text `name="value" ...` (the form of escapeAttribute). Throws
    // InvalidPreferencesFormatException for anything else (a repeated name, entity references other than
    // the predefined ones, characters a settings file cannot carry), saying what `what` is.
    static Entries parseAttributes(const QString& text, const QString& what);

    // Parses a document. Throws InvalidPreferencesFormatException with the reason (and the line) when the
    // text is not an export this reader accepts.
    static Document parse(const QByteArray& data);

    // Reads and parses a file; refuses files over MAX_FILE_SIZE. Throws InvalidPreferencesFormatException
    // (also when the file cannot be read, naming it and the reason).
    static Document readFile(const QString& fileName);

    // Writes the document atomically (a temporary file renamed over the target; an existing file is left
    // as it was when writing fails). Throws BackingStoreException naming the file and the reason.
    static void writeFile(const QString& fileName, const QByteArray& document);

    // Every entry of `node` (keys sorted) written to `fileName`; the node is flushed first. Throws
    // BackingStoreException or InvalidPreferencesFormatException.
    static void exportNode(AbstractPreferences& node, const QString& fileName);
};

} // namespace vornal::prefs
