// Bundle lookup with language fallback, and the choice of the user's language.
#include "vornal/util/ResourceBundle.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <utility>

namespace {

using vornal::util::ResourceBundle;

TEST(ResourceBundle, LanguageFileFirstThenBase) {
    const ResourceBundle& de = ResourceBundle::get("test.Sample", "de");
    ASSERT_TRUE(de.isValid());
    EXPECT_EQ(de.language(), "de");
    EXPECT_EQ(de.getString("greeting"), "Hallo");
    EXPECT_EQ(de.getString("only.base"), "Base only"); // untranslated: the base text
    EXPECT_EQ(de.getString("only.german"), "Nur deutsch");
    EXPECT_EQ(de.getString("port.opened"), QString::fromUtf8("Port {0} mit {1} Bit/s geöffnet"));
    EXPECT_EQ(de.keys(), QStringList({"greeting", "only.base", "only.german", "port.opened", "quoted"}));
    EXPECT_EQ(de.keysOnlyInLanguage(), QStringList{"only.german"});
    EXPECT_EQ(de.keysMissingInLanguage(), QStringList({"only.base", "quoted"}));

    const ResourceBundle& en = ResourceBundle::get("test.Sample", "en"); // no English file: the base
    EXPECT_EQ(en.language(), "");
    EXPECT_EQ(en.getString("greeting"), "Hello");
    EXPECT_FALSE(en.contains("only.german"));

    // A regional variant falls back to its language.
    EXPECT_EQ(ResourceBundle::get("test.Sample", "de_AT").getString("greeting"), "Hallo");
}

TEST(ResourceBundle, MissingKeysAndBundlesAreVisibleNotFatal) {
    const ResourceBundle& b = ResourceBundle::get("test.Sample", "");
    EXPECT_FALSE(b.contains("no.such.key"));
    EXPECT_FALSE(b.find("no.such.key").has_value());
    EXPECT_EQ(b.getString("no.such.key"), "[no.such.key]");

    const ResourceBundle& none = ResourceBundle::get("test.Missing", "de");
    EXPECT_FALSE(none.isValid());
    EXPECT_TRUE(none.keys().isEmpty());
    EXPECT_EQ(none.getString("greeting"), "[greeting]");
}

TEST(ResourceBundle, ProgramBundlesAreResources) {
    for (const char* name : {"vornal.Vornal", "vornal.config.ConfigBundle", "vornal.worker.WorkerBundle"}) {
        EXPECT_TRUE(ResourceBundle::get(name, "").isValid()) << name;
        EXPECT_EQ(ResourceBundle::get(name, "de").language(), "de") << name;
    }
    EXPECT_EQ(ResourceBundle::resourcePath("vornal.config.ConfigBundle", "de"),
              ":/bundles/vornal/config/ConfigBundle_de.properties");
}

// Sets the locale variables for one test and restores them afterwards.
class Environment {
public:
    explicit Environment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
            qunsetenv(name);
        }
        for (const auto& [name, value] : values)
            qputenv(name, value);
    }
    ~Environment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
    }

private:
    std::map<const char*, std::optional<QByteArray>> saved_;
};

TEST(ResourceBundle, SystemLanguagePrecedence) {
    {
        Environment env({{"LANGUAGE", "de:en"}, {"LC_ALL", "fr_FR.UTF-8"}, {"LANG", "en_US.UTF-8"}});
        EXPECT_EQ(ResourceBundle::systemLanguage(), "de");
    }
    {
        Environment env(
            {{"LANGUAGE", ""}, {"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "en_GB"}, {"LANG", "fr"}});
        EXPECT_EQ(ResourceBundle::systemLanguage(), "de");
    }
    {
        Environment env({{"LC_MESSAGES", "de_CH.ISO-8859-1"}, {"LANG", "en_US.UTF-8"}});
        EXPECT_EQ(ResourceBundle::systemLanguage(), "de");
    }
    {
        Environment env({{"LANG", "de_DE@euro"}});
        EXPECT_EQ(ResourceBundle::systemLanguage(), "de");
    }
    {
        Environment env({{"LANG", "C"}});
        EXPECT_EQ(ResourceBundle::systemLanguage(), "en");
    }
    {
        Environment env({{"LANGUAGE", "de"}, {"LC_ALL", "POSIX"}}); // the C locale is never translated
        EXPECT_EQ(ResourceBundle::systemLanguage(), "en");
    }
    {
        Environment env({{"LANGUAGE", ":de_AT:en"}, {"LANG", "en_US.UTF-8"}}); // empty entries skipped
        EXPECT_EQ(ResourceBundle::systemLanguage(), "de");
    }
    {
        Environment env({{"LANG", "de_DE.UTF-8"}});
        ResourceBundle::setLocale("en");
        EXPECT_EQ(ResourceBundle::locale(), "en");
        EXPECT_EQ(ResourceBundle::get("test.Sample").getString("greeting"), "Hello");
        ResourceBundle::setLocale("");
        EXPECT_EQ(ResourceBundle::locale(), "de");
        EXPECT_EQ(ResourceBundle::get("test.Sample").getString("greeting"), "Hallo");
    }
}

} // namespace
