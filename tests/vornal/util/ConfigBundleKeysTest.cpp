// Every text the option sets and presets look up exists in English and in German.
#include "vornal/config/ConfigHelper.h"
#include "vornal/util/ResourceBundle.h"

#include <gtest/gtest.h>

namespace {

using vornal::config::ConfigHelper;
using vornal::util::ResourceBundle;

const QString kName = "vornal.config.ConfigBundle";

TEST(ConfigBundle, EveryLookedUpKeyExistsInBothLanguages) {
    const QStringList keys = ConfigHelper::bundleKeys();
    ASSERT_GE(keys.size(), 40);
    EXPECT_TRUE(keys.contains("keyboardType.us_international"));
    EXPECT_TRUE(keys.contains("aandd.em.defaultmessage"));
    EXPECT_TRUE(keys.contains("kern_rpb_weight"));

    const ResourceBundle& base = ResourceBundle::get(kName, "");
    const ResourceBundle& de = ResourceBundle::get(kName, "de");
    ASSERT_TRUE(base.isValid());
    ASSERT_EQ(de.language(), "de");
    const QStringList untranslated = de.keysMissingInLanguage();
    for (const QString& key : keys) {
        EXPECT_TRUE(base.contains(key)) << "English text missing: " << key.toStdString();
        EXPECT_FALSE(untranslated.contains(key)) << "German text missing: " << key.toStdString();
        EXPECT_FALSE(base.getString(key).trimmed().isEmpty()) << key.toStdString();
    }
    EXPECT_TRUE(de.keysOnlyInLanguage().isEmpty()) << de.keysOnlyInLanguage().join(", ").toStdString();
    // The German file is really German: the texts differ where words are involved.
    EXPECT_NE(base.getString("keyboardType.german"), de.getString("keyboardType.german"));
}

} // namespace
