#pragma once

#include "vornal/util/Properties.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vornal::util {

// User-visible texts looked up by key, in the user's language with fallback to the base texts.
//
// A bundle "a.b.Name" is the Qt resource ":/bundles/a/b/Name.properties" (the base, English texts) plus
// ":/bundles/a/b/Name_<lang>.properties" for the language (e.g. "_de"); a key missing from the language
// file is taken from the base file. Bundles are read once per language and kept for the process; get() and
// every lookup are safe from any thread.
class ResourceBundle {
public:
    // The bundle for the current language (locale()). Never fails: a bundle whose files are missing is
    // empty and reports isValid() == false.
    static const ResourceBundle& get(const QString& baseName);
    // The bundle for an explicit language ("de", "en"; "" = base texts only).
    static const ResourceBundle& get(const QString& baseName, const QString& language);

    // The text for `key`, or "[key]" when the key exists in neither file, so that a missing text shows up
    // visibly instead of as an empty control. Use find() or contains() to tell the cases apart.
    QString getString(const QString& key) const;
    // The text for `key`, or none.
    std::optional<QString> find(const QString& key) const;
    bool contains(const QString& key) const;
    // Every key of the bundle (base and language file), sorted.
    QStringList keys() const;
    // Keys of the language file that the base file lacks (a resource check: each such key has no
    // fallback in other languages), and base keys the language file lacks (untranslated).
    QStringList keysOnlyInLanguage() const;
    QStringList keysMissingInLanguage() const;

    const QString& baseName() const { return baseName_; }
    // The language whose file was found ("" when only the base file exists).
    const QString& language() const { return language_; }
    // True when the base file was found.
    bool isValid() const { return valid_; }

    // The language used by get(baseName): the one set with setLocale, else systemLanguage().
    static QString locale();
    // Overrides the language ("de", "en", "de_AT" ...); an empty text returns to the system language.
    // Bundles already handed out keep their texts.
    static void setLocale(const QString& language);
    // The user's language as a two-letter code ("de", "en"), as gettext chooses it: the first entry of
    // LANGUAGE, else the first of LC_ALL, LC_MESSAGES, LANG that is set and not empty; a messages locale of
    // "C" or "POSIX" means English even when LANGUAGE is set; when nothing is set, the system's UI
    // language (Windows: the user's display language).
    static QString systemLanguage();
    // The resource path of a bundle's file, e.g. (":/bundles/vornal/Vornal_de.properties").
    static QString resourcePath(const QString& baseName, const QString& language = QString());

private:
    ResourceBundle() = default;
    static ResourceBundle load(const QString& baseName, const QString& language);

    QString baseName_;
    QString language_;
    bool valid_ = false;
    Properties base_;
    Properties local_;
};

} // namespace vornal::util
