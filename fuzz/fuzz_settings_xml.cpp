// The settings import: any file is either refused with InvalidPreferencesFormatException or gives
// entries the settings rules accept; a document that was read is written and read back unchanged.

#include "FuzzSupport.h"

#include "vornal/config/SettingsXml.h"
#include "vornal/prefs/PreferencesXml.h"

using namespace vornal;
using prefs::InvalidPreferencesFormatException;
using prefs::PreferencesXml;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = (fuzz::quietQt(), true);
    (void)once;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    PreferencesXml::Document doc;
    try {
        doc = PreferencesXml::parse(bytes);
    } catch (const InvalidPreferencesFormatException& e) {
        VORNAL_FUZZ_CHECK(!e.message().isEmpty(), QString());
        return 0;
    }
    VORNAL_FUZZ_CHECK(doc.nodePath.startsWith(u'/'), doc.nodePath);

    // Written again and read back: the same node and entries.
    try {
        const QByteArray written = PreferencesXml::toDocument(doc.nodePath, doc.entries);
        const PreferencesXml::Document again = PreferencesXml::parse(written);
        VORNAL_FUZZ_CHECK(again.nodePath == doc.nodePath && again.entries == doc.entries,
                          QString::fromUtf8(written.left(300)));
    } catch (const InvalidPreferencesFormatException& e) {
        // Only characters an XML file cannot carry may be refused on the way out.
        bool hasControl = false;
        for (const auto& [k, v] : doc.entries)
            for (QChar ch : k + v)
                hasControl = hasControl || (ch.unicode() < 0x20 && ch != u'\t' && ch != u'\n' && ch != u'\r');
        VORNAL_FUZZ_CHECK(hasControl || doc.nodePath.isEmpty(), e.message());
    }

    try {
        const auto entries = config::SettingsXml::checkSettings(doc);
        for (const auto& [key, value] : entries) {
            config::Config c;
            QString why;
            VORNAL_FUZZ_CHECK(c.setByKey(key, value, &why), key + QStringLiteral(": ") + why);
        }
    } catch (const InvalidPreferencesFormatException& e) {
        VORNAL_FUZZ_CHECK(!e.message().isEmpty(), QString());
    }
    return 0;
}
