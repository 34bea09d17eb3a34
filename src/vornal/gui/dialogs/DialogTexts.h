#pragma once

#include <QString>
#include <QStringList>

namespace vornal {

// Texts of the dialogs, looked up in the window bundle "vornal.Vornal" (in the user's language).
class DialogTexts {
public:
    // The text of `key` ("[key]" when it is missing, so that a gap shows).
    static QString text(const QString& key);
    // The bundle in use; tests may point the dialogs at another bundle.
    static QString bundleName();
    static void setBundleName(const QString& name);
    // Every key the dialogs look up, for the window's resource check at start-up.
    static QStringList requiredKeys();
};

} // namespace vornal
