#include "vornal/prefs/PreferencesXml.h"

#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/util/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QXmlStreamReader>

#include <optional>

namespace vornal::prefs {

namespace {

// Characters an XML 1.0 document can carry at all (also as a character reference).
bool isXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// The first character of `text` an XML file cannot carry (a lone surrogate included), or none.
std::optional<char32_t> firstNonXmlChar(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate() || !isXmlChar(c.unicode()))
            return c.unicode();
    }
    return std::nullopt;
}

QString codePoint(char32_t c) {
    return QStringLiteral("U+") + QStringLiteral("%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

// An attribute value: markup characters and the white-space characters that attribute normalisation
// would otherwise turn into blanks are written as references.
QString PreferencesXml::escapeAttribute(const QString& text) {
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QStringLiteral("&amp;");
            break;
        case u'<':
            out += QStringLiteral("&lt;");
            break;
        case u'>':
            out += QStringLiteral("&gt;");
            break;
        case u'"':
            out += QStringLiteral("&quot;");
            break;
        case u'\t':
            out += QStringLiteral("&#9;");
            break;
        case u'\n':
            out += QStringLiteral("&#10;");
            break;
        case u'\r':
            out += QStringLiteral("&#13;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

[[noreturn]] void refuse(const QString& reason) {
    throw InvalidPreferencesFormatException(reason);
}

[[noreturn]] void refuseAt(const QXmlStreamReader& r, const QString& reason) {
    refuse(QStringLiteral("%1 (line %2)").arg(reason).arg(r.lineNumber()));
}

// `text` with U+FFFD in place of each character a settings file cannot carry, for messages.
QString carriable(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QString one = text.mid(i, text[i].isHighSurrogate() ? 2 : 1);
        shown += firstNonXmlChar(one) ? QString(QChar::ReplacementCharacter) : one;
        i += one.size() - 1;
    }
    return shown;
}

// A file in an encoding such as UTF-7 can decode to characters no settings file can carry (a lone
// surrogate); such a text could be imported but never exported or stored again, so it is refused.
void checkCarriable(const QXmlStreamReader& r, const QString& text, const QString& what) {
    if (const auto bad = firstNonXmlChar(text))
        refuseAt(r, QStringLiteral("%1 holds the character %2, which a settings file cannot carry")
                        .arg(what, codePoint(*bad)));
}

// The reader keeps a reference to an entity nothing declares literally in an attribute value ("&x;"),
// which would read as text. Without an internal subset only the predefined entities and character
// references exist, so any other "&" outside comments and processing instructions is refused.
void checkEntityReferences(const QByteArray& data) {
    static const char* const allowed[] = {"amp;", "lt;", "gt;", "quot;", "apos;"};
    int line = 1;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c == '\n') {
            ++line;
        } else if (c == '<' && data.mid(i, 4) == "<!--") {
            const qsizetype end = data.indexOf("-->", i + 4);
            if (end < 0)
                return; // the parser reports the unfinished comment
            line += int(data.mid(i, end - i).count('\n'));
            i = end + 2;
        } else if (c == '<' && data.mid(i, 2) == "<?") {
            const qsizetype end = data.indexOf("?>", i + 2);
            if (end < 0)
                return;
            line += int(data.mid(i, end - i).count('\n'));
            i = end + 1;
        } else if (c == '&') {
            bool ok = false;
            for (const char* a : allowed)
                ok = ok || data.mid(i + 1, qsizetype(qstrlen(a))) == a;
            if (!ok && i + 1 < data.size() && data[i + 1] == '#') {
                qsizetype j = i + 2;
                const bool hex = j < data.size() && data[j] == 'x';
                if (hex)
                    ++j;
                const qsizetype digits = j;
                while (j < data.size() && (hex ? isxdigit(uchar(data[j])) : isdigit(uchar(data[j]))))
                    ++j;
                ok = j > digits && j < data.size() && data[j] == ';';
            }
            if (!ok) {
                const qsizetype end = data.indexOf(';', i);
                const QByteArray shown = data.mid(i, end > i && end - i < 40 ? end - i + 1 : 10);
                refuse(QStringLiteral("the entity reference %1 is not allowed (line %2)")
                           .arg(QString::fromUtf8(shown))
                           .arg(line));
            }
        }
    }
}

struct NodeInfo {
    QString path;
    PreferencesXml::Entries entries;
    int children = 0;
    PreferencesXml::Instructions instructions;
};

// Reads the content of a <map>: <entry key=".." value=".."/> elements only.
void readMap(QXmlStreamReader& r, PreferencesXml::Entries& entries) {
    while (true) {
        switch (r.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (r.name() != u"entry")
                refuseAt(r, QStringLiteral("unexpected element <%1> in a <map>").arg(r.name()));
            const auto attrs = r.attributes();
            if (!attrs.hasAttribute(QStringLiteral("key")) || !attrs.hasAttribute(QStringLiteral("value")))
                refuseAt(r, QStringLiteral("an <entry> needs the attributes key and value"));
            const QString key = attrs.value(QStringLiteral("key")).toString();
            const QString value = attrs.value(QStringLiteral("value")).toString();
            checkCarriable(r, key, QStringLiteral("the name of the setting \"%1\"").arg(carriable(key)));
            checkCarriable(r, value, QStringLiteral("the value of the setting \"%1\"").arg(carriable(key)));
            entries.emplace_back(key, value);
            // An entry is empty.
            while (true) {
                const auto t = r.readNext();
                if (t == QXmlStreamReader::EndElement)
                    break;
                if (t == QXmlStreamReader::Characters && r.isWhitespace())
                    continue;
                if (t == QXmlStreamReader::Comment)
                    continue;
                if (t == QXmlStreamReader::Invalid)
                    return;
                refuseAt(r, QStringLiteral("an <entry> must be empty"));
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            return;
        case QXmlStreamReader::Characters:
            if (!r.isWhitespace())
                refuseAt(r, QStringLiteral("unexpected text in a <map>"));
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            break;
        case QXmlStreamReader::Invalid:
            return; // reported by the caller
        default:
            refuseAt(r, QStringLiteral("unexpected content in a <map>"));
        }
    }
}

// Reads the content of <root> or <node>: one <map>, then <node> elements.
void readNodeContent(QXmlStreamReader& r, const QString& path, std::vector<NodeInfo>& nodes, int depth = 0) {
    // A settings file nests two nodes; a deeper file is no export and must not exhaust the stack.
    constexpr int maxDepth = 32;
    if (depth > maxDepth)
        refuseAt(r, QStringLiteral("the nodes are nested more than %1 deep").arg(maxDepth));
    const size_t self = nodes.size();
    nodes.push_back(NodeInfo{path, {}, 0});
    bool haveMap = false;
    while (true) {
        switch (r.readNext()) {
        case QXmlStreamReader::StartElement:
            if (r.name() == u"map") {
                if (haveMap)
                    refuseAt(r, QStringLiteral("a node has more than one <map>"));
                haveMap = true;
                PreferencesXml::Entries entries;
                readMap(r, entries);
                nodes[self].entries = std::move(entries);
            } else if (r.name() == u"node") {
                if (!haveMap)
                    refuseAt(r, QStringLiteral("a <node> must begin with its <map>"));
                const QString name = r.attributes().value(QStringLiteral("name")).toString();
                if (name.isEmpty() || name.contains(u'/'))
                    refuseAt(r, QStringLiteral("a <node> needs a name without \"/\""));
                checkCarriable(r, name, QStringLiteral("the node name \"%1\"").arg(carriable(name)));
                ++nodes[self].children;
                readNodeContent(r, (path == u"/" ? QString() : path) + u'/' + name, nodes, depth + 1);
            } else {
                refuseAt(r, QStringLiteral("unexpected element <%1>").arg(r.name()));
            }
            break;
        case QXmlStreamReader::EndElement:
            if (!haveMap)
                refuseAt(r, QStringLiteral("a node without its <map>"));
            return;
        case QXmlStreamReader::Characters:
            if (!r.isWhitespace())
                refuseAt(r, QStringLiteral("unexpected text"));
            break;
        case QXmlStreamReader::ProcessingInstruction:
            nodes[self].instructions.emplace_back(r.processingInstructionTarget().toString(),
                                                  r.processingInstructionData().toString());
            break;
        case QXmlStreamReader::Comment:
            break;
        case QXmlStreamReader::Invalid:
            return;
        default:
            refuseAt(r, QStringLiteral("unexpected content"));
        }
        if (r.hasError())
            return;
    }
}

} // namespace

QByteArray PreferencesXml::toDocument(const QString& nodePath, const Entries& entries,
                                      const Instructions& instructions) {
    const QStringList names = nodePath.split(u'/', Qt::SkipEmptyParts);
    if (!nodePath.startsWith(u'/') || names.isEmpty())
        throw std::invalid_argument("toDocument: the node path must be absolute and below the root");
    for (const auto& [key, value] : entries) {
        for (const QString* text : {&key, &value})
            if (const auto bad = firstNonXmlChar(*text))
                refuse(QStringLiteral("the %1 of the setting \"%2\" holds the character %3, which a settings "
                                      "file cannot carry; change the setting and export again")
                           .arg(text == &key ? QStringLiteral("name") : QStringLiteral("value"),
                                escapeAttribute(key).left(80), codePoint(*bad)));
    }
    static const QRegularExpression targetName(QStringLiteral("^[A-Za-z_][A-Za-z0-9._-]*$"));
    for (const auto& [target, data] : instructions) {
        if (!targetName.match(target).hasMatch() || target.startsWith(u"xml", Qt::CaseInsensitive))
            throw std::invalid_argument("toDocument: an instruction needs a plain name other than xml...");
        if (data.contains(QStringLiteral("?>")) || firstNonXmlChar(data))
            refuse(QStringLiteral("the addition \"%1\" cannot be written to a settings file").arg(target));
    }
    QString x;
    x += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n");
    x += QStringLiteral("<!DOCTYPE preferences SYSTEM \"%1\">\n").arg(QLatin1String(DTD_SYSTEM_ID));
    x += QStringLiteral("<preferences EXTERNAL_XML_VERSION=\"%1\">\n")
             .arg(QLatin1String(EXTERNAL_XML_VERSION));
    x += QStringLiteral("  <root type=\"user\">\n    <map/>\n");
    QString indent = QStringLiteral("    ");
    for (qsizetype i = 0; i < names.size(); ++i) {
        x += indent + QStringLiteral("<node name=\"%1\">\n").arg(escapeAttribute(names[i]));
        indent += QStringLiteral("  ");
        if (i + 1 < names.size() || entries.empty()) {
            x += indent + QStringLiteral("<map/>\n");
        } else {
            x += indent + QStringLiteral("<map>\n");
            for (const auto& [key, value] : entries)
                x += indent + QStringLiteral("  <entry key=\"%1\" value=\"%2\"/>\n")
                                  .arg(escapeAttribute(key), escapeAttribute(value));
            x += indent + QStringLiteral("</map>\n");
            for (const auto& [target, data] : instructions)
                x += indent + QStringLiteral("<?%1 %2?>\n").arg(target, data);
        }
    }
    for (qsizetype i = names.size(); i > 0; --i) {
        indent.chop(2);
        x += indent + QStringLiteral("</node>\n");
    }
    x += QStringLiteral("  </root>\n</preferences>\n");
    return x.toUtf8();
}

PreferencesXml::Document PreferencesXml::parse(const QByteArray& data) {
    if (data.size() > MAX_FILE_SIZE)
        refuse(QStringLiteral("the file is larger than %1 KiB; a settings export is much smaller")
                   .arg(MAX_FILE_SIZE / 1024));
    if (data.trimmed().isEmpty())
        refuse(QStringLiteral("the file is empty"));

    QXmlStreamReader r(data);
    // Nothing is ever expanded (an internal subset is refused below); this only keeps the reader safe.
    r.setEntityExpansionLimit(0);
    bool sawDtd = false;
    bool sawRoot = false;
    std::vector<NodeInfo> nodes;

    while (!r.atEnd()) {
        const auto token = r.readNext();
        if (r.hasError())
            break;
        switch (token) {
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::EndDocument:
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            break;
        case QXmlStreamReader::DTD: {
            // An internal subset could declare entities (expansion bombs, external files): refused whole.
            if (r.text().contains(u'[') || !r.entityDeclarations().isEmpty() ||
                !r.notationDeclarations().isEmpty())
                refuseAt(r, QStringLiteral("the document type declares its own content (an internal subset); "
                                           "a settings export has none"));
            if (r.dtdName() != u"preferences" || r.dtdSystemId() != QLatin1String(DTD_SYSTEM_ID))
                refuseAt(r, QStringLiteral("the document type is \"%1\", not a preferences export")
                                .arg(r.dtdName().toString()));
            sawDtd = true;
            break;
        }
        case QXmlStreamReader::Characters:
            if (!r.isWhitespace())
                refuseAt(r, QStringLiteral("unexpected text"));
            break;
        case QXmlStreamReader::EntityReference:
            refuseAt(r, QStringLiteral("the entity reference &%1; is not allowed").arg(r.name()));
        case QXmlStreamReader::StartElement: {
            if (!sawDtd)
                refuseAt(r, QStringLiteral("the document type of a preferences export is missing "
                                           "(<!DOCTYPE preferences SYSTEM \"%1\">)")
                                .arg(QLatin1String(DTD_SYSTEM_ID)));
            if (r.name() != u"preferences")
                refuseAt(r, QStringLiteral("the document element is <%1>, not <preferences>").arg(r.name()));
            // Only now: the document type has been checked, so an internal subset is reported as such.
            checkEntityReferences(data);
            const auto version = r.attributes().value(QStringLiteral("EXTERNAL_XML_VERSION"));
            if (!version.isEmpty() && version != u"0.0" && version != u"1.0")
                refuseAt(r, QStringLiteral("the export format version %1 is not supported (only 1.0)")
                                .arg(version.toString()));
            // <preferences> holds exactly one <root>.
            while (true) {
                const auto t = r.readNext();
                if (r.hasError())
                    break;
                if (t == QXmlStreamReader::StartElement) {
                    if (r.name() != u"root" || sawRoot)
                        refuseAt(r, QStringLiteral("<preferences> must hold exactly one <root>"));
                    const auto type = r.attributes().value(QStringLiteral("type"));
                    if (type != u"user" && type != u"system")
                        refuseAt(r, QStringLiteral("<root> needs the type user or system"));
                    sawRoot = true;
                    readNodeContent(r, QStringLiteral("/"), nodes);
                    if (r.hasError())
                        break;
                } else if (t == QXmlStreamReader::EndElement) {
                    break;
                } else if (t == QXmlStreamReader::Characters) {
                    if (!r.isWhitespace())
                        refuseAt(r, QStringLiteral("unexpected text"));
                } else if (t == QXmlStreamReader::EntityReference) {
                    refuseAt(r, QStringLiteral("the entity reference &%1; is not allowed").arg(r.name()));
                } else if (t != QXmlStreamReader::Comment && t != QXmlStreamReader::ProcessingInstruction) {
                    refuseAt(r, QStringLiteral("unexpected content"));
                }
            }
            break;
        }
        default:
            refuseAt(r, QStringLiteral("unexpected content"));
        }
    }
    if (r.hasError()) {
        if (r.error() == QXmlStreamReader::PrematureEndOfDocumentError)
            refuse(
                QStringLiteral("the file ends too early (line %1); it may be truncated").arg(r.lineNumber()));
        refuse(QStringLiteral("not a well-formed XML file: %1 (line %2, column %3)")
                   .arg(r.errorString())
                   .arg(r.lineNumber())
                   .arg(r.columnNumber()));
    }
    if (!sawRoot)
        refuse(QStringLiteral("the file holds no <root> of preferences"));

    // One chain of nodes from the root down; the entries belong to its last node.
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].children > 1)
            refuse(QStringLiteral("the file holds more than one node below \"%1\"").arg(nodes[i].path));
        if (i + 1 < nodes.size() && !nodes[i].entries.empty())
            refuse(QStringLiteral("the file holds entries of the node \"%1\" besides those of \"%2\"")
                       .arg(nodes[i].path, nodes.back().path));
    }
    if (nodes.size() < 2)
        refuse(QStringLiteral("the file holds no preferences node"));
    return Document{nodes.back().path, std::move(nodes.back().entries), std::move(nodes.back().instructions)};
}

PreferencesXml::Entries PreferencesXml::parseAttributes(const QString& text, const QString& what) {
    // Read as the attributes of an element of its own: the reader checks quoting, references and
    // repeated names. "&" other than the predefined entities and character references is refused.
    const QByteArray data = "<a " + text.toUtf8() + "/>";
    if (text.contains(u'<') || text.contains(u'>'))
        refuse(QStringLiteral("%1 holds \"<\" or \">\"").arg(what));
    try {
        checkEntityReferences(data);
    } catch (const InvalidPreferencesFormatException& e) {
        refuse(QStringLiteral("%1: %2").arg(what, e.message()));
    }
    QXmlStreamReader r(data);
    r.setEntityExpansionLimit(0);
    Entries out;
    while (!r.atEnd()) {
        if (r.readNext() == QXmlStreamReader::StartElement)
            for (const auto& a : r.attributes()) {
                const QString name = a.qualifiedName().toString();
                const QString value = a.value().toString();
                checkCarriable(r, value, QStringLiteral("%1: the value of \"%2\"").arg(what, name));
                out.emplace_back(name, value);
            }
    }
    if (r.hasError())
        refuse(QStringLiteral("%1 is not a list of name=\"value\" pairs: %2").arg(what, r.errorString()));
    return out;
}

PreferencesXml::Document PreferencesXml::readFile(const QString& fileName) {
    const QString shown = QDir::toNativeSeparators(fileName);
    QFile f(fileName);
    if (QFileInfo(fileName).isDir())
        refuse(QStringLiteral("%1 is a folder, not a file").arg(shown));
    // A FIFO or a device is refused before it is read: the read could block for ever.
    QString why;
    if (!util::openRegularFile(f, QIODevice::ReadOnly, &why))
        refuse(QStringLiteral("cannot read %1").arg(why));
    // One byte more than allowed tells an oversized file without reading all of it.
    const QByteArray data = f.read(MAX_FILE_SIZE + 1);
    if (f.error() != QFileDevice::NoError)
        refuse(QStringLiteral("cannot read %1: %2").arg(shown, f.errorString()));
    try {
        return parse(data);
    } catch (const InvalidPreferencesFormatException& e) {
        refuse(QStringLiteral("%1 is not a settings export: %2").arg(shown, e.message()));
    }
}

void PreferencesXml::writeFile(const QString& fileName, const QByteArray& document) {
    const QString shown = QDir::toNativeSeparators(fileName);
    // The new file is renamed over the old one: never over a device node or a FIFO.
    if (const QString why = util::notRegularFile(fileName); !why.isEmpty())
        throw BackingStoreException(QStringLiteral("cannot write %1").arg(why));
    QSaveFile f(fileName);
    if (!f.open(QIODevice::WriteOnly))
        throw BackingStoreException(QStringLiteral("cannot write %1: %2").arg(shown, f.errorString()));
    if (f.write(document) != document.size()) {
        const QString why = f.errorString();
        f.cancelWriting();
        throw BackingStoreException(QStringLiteral("cannot write %1: %2").arg(shown, why));
    }
    if (!f.commit())
        throw BackingStoreException(QStringLiteral("cannot write %1: %2").arg(shown, f.errorString()));
}

void PreferencesXml::exportNode(AbstractPreferences& node, const QString& fileName) {
    QStringList keys = node.keys();
    keys.sort();
    Entries entries;
    for (const QString& k : keys)
        entries.emplace_back(k, node.get(k, QString()));
    writeFile(fileName, toDocument(node.absolutePath(), entries));
    node.flush();
}

} // namespace vornal::prefs
