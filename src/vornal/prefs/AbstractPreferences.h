#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vornal::prefs {

// The backing storage could not be read or written. The message names the file and the reason.
class BackingStoreException : public std::runtime_error {
public:
    explicit BackingStoreException(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// An operation on a node that has been removed, or the removal of the root.
class IllegalStateException : public std::logic_error {
public:
    explicit IllegalStateException(const QString& message) : std::logic_error(message.toStdString()) {}
};

// One node of a hierarchical preferences tree: text entries under keys, child nodes by name.
//
// The public operations form the generic layer (node cache, path handling, typed get/put, recursion of
// flush and sync over the descendants). A backend implements only the protected service operations
// (the *Spi functions); they are always called with this node's lock held, so a backend never sees two
// operations on the same node at once.
//
// Nodes are handed out as shared pointers: a node stays a valid object after removal (its operations
// then throw IllegalStateException), so callers holding one never dangle.
class AbstractPreferences : public std::enable_shared_from_this<AbstractPreferences> {
public:
    static constexpr int MAX_KEY_LENGTH = 80;
    static constexpr int MAX_NAME_LENGTH = 80;
    static constexpr int MAX_VALUE_LENGTH = 8 * 1024;

    virtual ~AbstractPreferences() = default;
    AbstractPreferences(const AbstractPreferences&) = delete;
    AbstractPreferences& operator=(const AbstractPreferences&) = delete;

    QString name() const { return name_; }
    // "/" for the root, else "/a/b".
    QString absolutePath() const { return absolutePath_; }
    bool isRoot() const { return isRoot_; }

    // Text entries. get() gives `fallback` when the key is absent or the backend fails to answer.
    QString get(const QString& key, const QString& fallback);
    // `fallback` when absent or not a decimal 32-bit integer ("+7", "-3" and "42" are; " 42" is not).
    int getInt(const QString& key, int fallback);
    // `fallback` when absent or neither "true" nor "false" (case-insensitive).
    bool getBoolean(const QString& key, bool fallback);

    // Throws std::invalid_argument for an empty or over-long key or an over-long value (or whatever
    // the backend refuses), IllegalStateException on a removed node.
    void put(const QString& key, const QString& value);
    // Puts several entries as one change: every entry is checked first (nothing is stored when one is
    // refused), and a backing store that writes on every change writes them all in one go, so a crash
    // never leaves half of them stored.
    void putAll(const std::vector<std::pair<QString, QString>>& entries);
    // Throws std::invalid_argument, with the reason, for an entry put() would refuse.
    static void checkEntry(const QString& key, const QString& value);
    void putInt(const QString& key, int value);
    void putBoolean(const QString& key, bool value);
    void remove(const QString& key);
    // Removes every entry of this node (not of its children).
    void clear();

    // Keys of this node's entries. Throws BackingStoreException when the backend fails.
    QStringList keys();
    // Names of the child nodes known to this node, sorted.
    QStringList childrenNames();

    // The node at `path`: absolute ("/halvorn/Vornal") from the root, otherwise relative to this
    // node; missing nodes are created. Throws std::invalid_argument for a malformed path (empty
    // name, "//", a trailing "/", a name over MAX_NAME_LENGTH).
    std::shared_ptr<AbstractPreferences> node(const QString& path);
    // Whether the node at `path` exists, without creating it. "" asks about this node itself, which
    // is the only question a removed node answers (false).
    bool nodeExists(const QString& path);

    // Removes this node and all its descendants with their entries. Throws IllegalStateException for
    // the root or a node already removed, BackingStoreException when the backend fails.
    void removeNode();
    bool isRemoved() const;

    // Writes this node and its descendants to the backing storage now. A removed node flushes its
    // removal and stops there. Throws BackingStoreException.
    void flush();
    // Reads this node and its descendants from the backing storage. Throws BackingStoreException,
    // IllegalStateException on a removed node.
    void sync();

protected:
    // `parent` is null for the root, which has the empty name.
    AbstractPreferences(const std::shared_ptr<AbstractPreferences>& parent, const QString& name);

    // Service operations of a backend; called with this node's lock held.
    virtual std::optional<QString> getSpi(const QString& key) = 0;
    virtual void putSpi(const QString& key, const QString& value) = 0;
    // Stores several checked entries; the default puts them one by one.
    virtual void putAllSpi(const std::vector<std::pair<QString, QString>>& entries);
    virtual void removeSpi(const QString& key) = 0;
    virtual QStringList keysSpi() = 0;
    virtual QStringList childrenNamesSpi() = 0;
    // The child of that name, created when needed; never null.
    virtual std::shared_ptr<AbstractPreferences> childSpi(const QString& name) = 0;
    virtual void removeNodeSpi() = 0;
    virtual void syncSpi() = 0;
    virtual void flushSpi() = 0;

private:
    void checkNotRemoved() const;
    // The parent, or IllegalStateException when the tree it belonged to was dropped.
    std::shared_ptr<AbstractPreferences> parentNode() const;
    // The root of this node's tree, for absolute paths.
    std::shared_ptr<AbstractPreferences> rootNode();
    std::shared_ptr<AbstractPreferences> child(const QString& name);
    std::shared_ptr<AbstractPreferences> cachedChild(const QString& name);
    std::vector<std::shared_ptr<AbstractPreferences>> cachedChildren() const;
    void removeNodeRecursive();
    void flushRecursive();
    void syncRecursive();

    // Weak: the parent owns its children, and a node handed out must not keep a dropped tree alive.
    const std::weak_ptr<AbstractPreferences> parent_;
    const bool isRoot_;
    const QString name_;
    const QString absolutePath_;
    // Recursive: a backend may call the public operations of its own node from a service operation.
    mutable std::recursive_mutex lock_;
    bool removed_ = false;
    std::map<QString, std::shared_ptr<AbstractPreferences>> kidCache_;
};

} // namespace vornal::prefs
