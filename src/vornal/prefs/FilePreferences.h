#pragma once

#include "vornal/prefs/AbstractPreferences.h"

#include <QLoggingCategory>
#include <QString>

#include <map>
#include <memory>
#include <mutex>

namespace vornal::prefs {

Q_DECLARE_LOGGING_CATEGORY(lcFilePreferences)
Q_DECLARE_LOGGING_CATEGORY(lcFilePreferencesFactory)

// A preferences node whose whole tree lives in one properties text file (vornal::util::Properties):
// the file key of an entry is the node's path prefix ("halvorn.Vornal.") followed by the entry's key.
// A file key belongs to a node when it begins with the node's prefix and the rest contains no ".";
// so keys and node names containing "." are refused (they would land in another node).
//
// Every put and remove rewrites the file at once (atomically: temporary file, then rename); a failure
// there is only logged and the value stays in memory. An explicit flush() or sync() throws
// BackingStoreException with the file's name and the reason.
class FilePreferences final : public AbstractPreferences {
    struct Passkey {};

public:
    // Created by FilePreferencesFactory (the root) and by childSpi (every other node). Reads the node's
    // entries from the file; a failure there is logged and the node starts empty.
    FilePreferences(Passkey, const std::shared_ptr<FilePreferences>& parent, const QString& name);

    // The node's path prefix in the file: the names below the root, each followed by "." ("" for the root).
    QString getPath() const;

protected:
    std::optional<QString> getSpi(const QString& key) override;
    void putSpi(const QString& key, const QString& value) override;
    void putAllSpi(const std::vector<std::pair<QString, QString>>& entries) override;
    void removeSpi(const QString& key) override;
    QStringList keysSpi() override;
    QStringList childrenNamesSpi() override;
    std::shared_ptr<AbstractPreferences> childSpi(const QString& name) override;
    void removeNodeSpi() override;
    void syncSpi() override;
    void flushSpi() override;

private:
    friend class FilePreferencesFactory;

    std::map<QString, QString> root_;
    std::map<QString, std::shared_ptr<FilePreferences>> children_;
    bool isRemoved_ = false;
};

// Hands out the single root node of the file-backed tree and decides, once, which file backs it.
class FilePreferencesFactory {
public:
    // The process-wide property (an environment variable, so it can be set for the whole process
    // from outside or in-process with qputenv) that holds the file's path when set and not empty.
    static constexpr const char* SYSTEM_PROPERTY_FILE = "VORNAL_PREFS_FILE";
    // The header comment of the file.
    static constexpr const char* FILE_HEADER = "FilePreferences";

    // Both give the same root node (the file has no separate system tree).
    static std::shared_ptr<AbstractPreferences> userRoot();
    static std::shared_ptr<AbstractPreferences> systemRoot();

    // The file, determined on the first call and then kept: the property's value, or the home
    // directory + "/.fileprefs".
    static QString getPreferencesFile();

    // Sets the property for this process (an empty path unsets it). Takes effect for a file not yet
    // determined; call reset() to determine it again.
    static void setFileProperty(const QString& path);

    // Forgets the root node and the file, so the next request starts afresh (a different store
    // selected at launch, or a test). Nodes handed out before stay valid objects.
    static void reset();

    // Serialises every read and write of the file within the process.
    static std::mutex& fileLock();
};

} // namespace vornal::prefs
