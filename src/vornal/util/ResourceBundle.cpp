#include "vornal/util/ResourceBundle.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace vornal::util {

namespace {

std::mutex& stateMutex() {
    static std::mutex m;
    return m;
}

QString& localeOverride() {
    static QString lang;
    return lang;
}

// Bundles stay alive for the whole process: get() hands out references into this map.
std::map<std::pair<QString, QString>, ResourceBundle>& cache() {
    static std::map<std::pair<QString, QString>, ResourceBundle> bundles;
    return bundles;
}

// "de_DE.UTF-8@euro" -> "de"; "C"/"POSIX" -> "en".
QString languageOf(QString value) {
    value = value.trimmed();
    const qsizetype cut = value.indexOf(QRegularExpression(QStringLiteral("[_.@-]")));
    if (cut >= 0)
        value.truncate(cut);
    if (value == u"C" || value == u"POSIX")
        return QStringLiteral("en");
    return value.toLower();
}

bool readResource(const QString& path, Properties* into) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *into = Properties::parse(file.readAll());
    return true;
}

} // namespace

QString ResourceBundle::resourcePath(const QString& baseName, const QString& language) {
    QString path = QStringLiteral(":/bundles/") + QString(baseName).replace(u'.', u'/');
    if (!language.isEmpty())
        path += u'_' + language;
    return path + QStringLiteral(".properties");
}

ResourceBundle ResourceBundle::load(const QString& baseName, const QString& language) {
    ResourceBundle b;
    b.baseName_ = baseName;
    b.valid_ = readResource(resourcePath(baseName), &b.base_);
    // "de_AT" first, then "de".
    QStringList candidates;
    if (!language.isEmpty()) {
        candidates << language;
        const QString shortLang = languageOf(language);
        if (shortLang != language)
            candidates << shortLang;
    }
    for (const QString& lang : candidates) {
        if (readResource(resourcePath(baseName, lang), &b.local_)) {
            b.language_ = lang;
            break;
        }
    }
    return b;
}

const ResourceBundle& ResourceBundle::get(const QString& baseName) {
    return get(baseName, locale());
}

const ResourceBundle& ResourceBundle::get(const QString& baseName, const QString& language) {
    std::lock_guard lock(stateMutex());
    auto& bundles = cache();
    const auto key = std::make_pair(baseName, language);
    auto it = bundles.find(key);
    if (it == bundles.end())
        it = bundles.emplace(key, load(baseName, language)).first;
    return it->second;
}

std::optional<QString> ResourceBundle::find(const QString& key) const {
    const auto& local = local_.entries();
    if (const auto it = local.find(key); it != local.end())
        return it->second;
    const auto& base = base_.entries();
    if (const auto it = base.find(key); it != base.end())
        return it->second;
    return std::nullopt;
}

QString ResourceBundle::getString(const QString& key) const {
    if (auto text = find(key))
        return *text;
    return u'[' + key + u']';
}

bool ResourceBundle::contains(const QString& key) const {
    return local_.contains(key) || base_.contains(key);
}

QStringList ResourceBundle::keys() const {
    std::set<QString> all;
    for (const auto& [k, v] : base_.entries())
        all.insert(k);
    for (const auto& [k, v] : local_.entries())
        all.insert(k);
    return QStringList(all.begin(), all.end());
}

QStringList ResourceBundle::keysOnlyInLanguage() const {
    QStringList out;
    for (const auto& [k, v] : local_.entries())
        if (!base_.contains(k))
            out << k;
    return out;
}

QStringList ResourceBundle::keysMissingInLanguage() const {
    QStringList out;
    if (language_.isEmpty())
        return out;
    for (const auto& [k, v] : base_.entries())
        if (!local_.contains(k))
            out << k;
    return out;
}

QString ResourceBundle::locale() {
    {
        std::lock_guard lock(stateMutex());
        if (!localeOverride().isEmpty())
            return localeOverride();
    }
    return systemLanguage();
}

void ResourceBundle::setLocale(const QString& language) {
    std::lock_guard lock(stateMutex());
    localeOverride() = language.trimmed();
}

QString ResourceBundle::systemLanguage() {
    // gettext's order: LANGUAGE (a colon-separated list) wins over LC_ALL, LC_MESSAGES and LANG, except
    // that a messages locale set to "C" or "POSIX" means untranslated texts whatever LANGUAGE says.
    QString messagesLocale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        messagesLocale = qEnvironmentVariable(name);
        if (!messagesLocale.isEmpty())
            break;
    }
    if (messagesLocale == u"C" || messagesLocale == u"POSIX")
        return QStringLiteral("en");
    const QString first = qEnvironmentVariable("LANGUAGE").section(u':', 0, 0, QString::SectionSkipEmpty);
    if (!first.isEmpty())
        return languageOf(first);
    if (!messagesLocale.isEmpty())
        return languageOf(messagesLocale);
    // Nothing set (the usual case on Windows): the user's display language.
    const QStringList ui = QLocale::system().uiLanguages();
    return languageOf(ui.isEmpty() ? QLocale::system().name() : ui.first());
}

} // namespace vornal::util
