#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/util/WholeNumber.h"

#include <limits>

namespace vornal::prefs {

namespace {

QString joinPath(const AbstractPreferences* parent, const QString& name) {
    if (!parent)
        return QStringLiteral("/");
    if (parent->isRoot())
        return u'/' + name;
    return parent->absolutePath() + u'/' + name;
}

void checkKey(const QString& key) {
    if (key.isEmpty())
        throw std::invalid_argument("Preference key is empty");
    if (key.size() > AbstractPreferences::MAX_KEY_LENGTH)
        throw std::invalid_argument(QStringLiteral("Preference key %1 is longer than %2 characters")
                                        .arg(key.left(20) + QStringLiteral("..."))
                                        .arg(AbstractPreferences::MAX_KEY_LENGTH)
                                        .toStdString());
    if (key.contains(QChar(0)))
        throw std::invalid_argument("Preference key contains the character code 0");
}

} // namespace

AbstractPreferences::AbstractPreferences(const std::shared_ptr<AbstractPreferences>& parent,
                                         const QString& name)
    : parent_(parent), isRoot_(!parent), name_(name), absolutePath_(joinPath(parent.get(), name)) {
    if (!parent && !name.isEmpty())
        throw std::invalid_argument("The root node must have the empty name");
    if (parent && (name.isEmpty() || name.contains(u'/')))
        throw std::invalid_argument(
            QStringLiteral("Illegal node name '%1': empty or contains '/'").arg(name).toStdString());
}

std::shared_ptr<AbstractPreferences> AbstractPreferences::parentNode() const {
    auto parent = parent_.lock();
    if (!parent)
        throw IllegalStateException(
            QStringLiteral("Preferences node %1 belongs to a tree that is no longer in use")
                .arg(absolutePath_));
    return parent;
}

std::shared_ptr<AbstractPreferences> AbstractPreferences::rootNode() {
    std::shared_ptr<AbstractPreferences> n = shared_from_this();
    while (!n->isRoot_)
        n = n->parentNode();
    return n;
}

void AbstractPreferences::checkNotRemoved() const {
    if (removed_)
        throw IllegalStateException(
            QStringLiteral("Preferences node %1 has been removed").arg(absolutePath_));
}

bool AbstractPreferences::isRemoved() const {
    std::lock_guard guard(lock_);
    return removed_;
}

QString AbstractPreferences::get(const QString& key, const QString& fallback) {
    std::lock_guard guard(lock_);
    checkNotRemoved();
    std::optional<QString> value;
    try {
        value = getSpi(key);
    } catch (const std::exception&) {
        // A backend that cannot answer reads as "absent": the caller's fallback applies.
    }
    return value ? *value : fallback;
}

int AbstractPreferences::getInt(const QString& key, int fallback) {
    const QString text = get(key, QString());
    if (text.isNull())
        return fallback;
    return util::parseWholeNumber(text).value_or(fallback);
}

bool AbstractPreferences::getBoolean(const QString& key, bool fallback) {
    const QString text = get(key, QString());
    if (text.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    return fallback;
}

void AbstractPreferences::checkEntry(const QString& key, const QString& value) {
    checkKey(key);
    if (value.size() > MAX_VALUE_LENGTH)
        throw std::invalid_argument(QStringLiteral("Value of preference key %1 is longer than %2 characters")
                                        .arg(key)
                                        .arg(MAX_VALUE_LENGTH)
                                        .toStdString());
    if (value.contains(QChar(0)))
        throw std::invalid_argument(QStringLiteral("Value of preference key %1 contains the character code 0")
                                        .arg(key)
                                        .toStdString());
}

void AbstractPreferences::put(const QString& key, const QString& value) {
    checkEntry(key, value);
    std::lock_guard guard(lock_);
    checkNotRemoved();
    putSpi(key, value);
}

void AbstractPreferences::putAll(const std::vector<std::pair<QString, QString>>& entries) {
    for (const auto& [key, value] : entries)
        checkEntry(key, value);
    std::lock_guard guard(lock_);
    checkNotRemoved();
    putAllSpi(entries);
}

void AbstractPreferences::putAllSpi(const std::vector<std::pair<QString, QString>>& entries) {
    for (const auto& [key, value] : entries)
        putSpi(key, value);
}

void AbstractPreferences::putInt(const QString& key, int value) {
    put(key, QString::number(value));
}

void AbstractPreferences::putBoolean(const QString& key, bool value) {
    put(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void AbstractPreferences::remove(const QString& key) {
    std::lock_guard guard(lock_);
    checkNotRemoved();
    removeSpi(key);
}

void AbstractPreferences::clear() {
    std::lock_guard guard(lock_);
    for (const QString& key : keys())
        remove(key);
}

QStringList AbstractPreferences::keys() {
    std::lock_guard guard(lock_);
    checkNotRemoved();
    try {
        return keysSpi();
    } catch (const BackingStoreException&) {
        throw;
    } catch (const std::exception& e) {
        throw BackingStoreException(
            QStringLiteral("Cannot list the keys of %1: %2").arg(absolutePath_, QString::fromUtf8(e.what())));
    }
}

QStringList AbstractPreferences::childrenNames() {
    std::lock_guard guard(lock_);
    checkNotRemoved();
    QStringList names;
    for (const auto& [name, kid] : kidCache_)
        names += name;
    for (const QString& name : childrenNamesSpi())
        if (!names.contains(name))
            names += name;
    names.sort();
    return names;
}

std::shared_ptr<AbstractPreferences> AbstractPreferences::cachedChild(const QString& name) {
    auto it = kidCache_.find(name);
    return it == kidCache_.end() ? nullptr : it->second;
}

std::shared_ptr<AbstractPreferences> AbstractPreferences::child(const QString& name) {
    if (name.isEmpty())
        throw std::invalid_argument(
            QStringLiteral("Empty node name in a path below %1 (\"//\" or a trailing \"/\")")
                .arg(absolutePath_)
                .toStdString());
    if (name.size() > MAX_NAME_LENGTH)
        throw std::invalid_argument(QStringLiteral("Node name %1 is longer than %2 characters")
                                        .arg(name.left(20) + QStringLiteral("..."))
                                        .arg(MAX_NAME_LENGTH)
                                        .toStdString());
    std::lock_guard guard(lock_);
    checkNotRemoved();
    if (auto kid = cachedChild(name))
        return kid;
    auto kid = childSpi(name);
    kidCache_[name] = kid;
    return kid;
}

std::shared_ptr<AbstractPreferences> AbstractPreferences::node(const QString& path) {
    {
        std::lock_guard guard(lock_);
        checkNotRemoved();
    }
    std::shared_ptr<AbstractPreferences> current = path.startsWith(u'/') ? rootNode() : shared_from_this();
    const QString rest = path.startsWith(u'/') ? path.mid(1) : path;
    if (rest.isEmpty()) // "" or "/"
        return current;
    for (const QString& part : rest.split(u'/'))
        current = current->child(part);
    return current;
}

bool AbstractPreferences::nodeExists(const QString& path) {
    if (path.isEmpty())
        return !isRemoved();
    {
        std::lock_guard guard(lock_);
        checkNotRemoved();
    }
    std::shared_ptr<AbstractPreferences> current = path.startsWith(u'/') ? rootNode() : shared_from_this();
    const QString rest = path.startsWith(u'/') ? path.mid(1) : path;
    if (rest.isEmpty())
        return true;
    for (const QString& part : rest.split(u'/')) {
        if (part.isEmpty())
            throw std::invalid_argument(
                QStringLiteral("Malformed preferences path '%1'").arg(path).toStdString());
        std::shared_ptr<AbstractPreferences> next;
        {
            std::lock_guard guard(current->lock_);
            current->checkNotRemoved();
            next = current->cachedChild(part);
            if (!next) {
                if (!current->childrenNamesSpi().contains(part))
                    return false;
                next = current->childSpi(part);
                current->kidCache_[part] = next;
            }
        }
        current = next;
    }
    return true;
}

void AbstractPreferences::removeNode() {
    if (isRoot_)
        throw IllegalStateException(QStringLiteral("The root preferences node cannot be removed"));
    const auto parent = parentNode();
    std::lock_guard parentGuard(parent->lock_);
    removeNodeRecursive();
    parent->kidCache_.erase(name_);
}

void AbstractPreferences::removeNodeRecursive() {
    std::lock_guard guard(lock_);
    checkNotRemoved();
    // Every child the backend knows must be in the cache, so that all of them are removed.
    for (const QString& name : childrenNamesSpi())
        if (!kidCache_.count(name))
            kidCache_[name] = childSpi(name);
    for (auto it = kidCache_.begin(); it != kidCache_.end();) {
        try {
            it->second->removeNodeRecursive();
            it = kidCache_.erase(it);
        } catch (const BackingStoreException&) {
            ++it; // that child stays; this node's own removal is still attempted
        }
    }
    removeNodeSpi();
    removed_ = true;
}

std::vector<std::shared_ptr<AbstractPreferences>> AbstractPreferences::cachedChildren() const {
    std::vector<std::shared_ptr<AbstractPreferences>> kids;
    kids.reserve(kidCache_.size());
    for (const auto& [name, kid] : kidCache_)
        kids.push_back(kid);
    return kids;
}

void AbstractPreferences::flush() {
    flushRecursive();
}

void AbstractPreferences::flushRecursive() {
    std::vector<std::shared_ptr<AbstractPreferences>> kids;
    {
        std::lock_guard guard(lock_);
        flushSpi();
        if (removed_)
            return;
        kids = cachedChildren();
    }
    for (const auto& kid : kids)
        kid->flushRecursive();
}

void AbstractPreferences::sync() {
    syncRecursive();
}

void AbstractPreferences::syncRecursive() {
    std::vector<std::shared_ptr<AbstractPreferences>> kids;
    {
        std::lock_guard guard(lock_);
        checkNotRemoved();
        syncSpi();
        kids = cachedChildren();
    }
    for (const auto& kid : kids)
        kid->syncRecursive();
}

} // namespace vornal::prefs
