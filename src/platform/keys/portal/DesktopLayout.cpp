#include "DesktopLayout.h"

#include "../Keysyms.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <optional>

namespace vornal::platform {

namespace {

constexpr int kSettingsTimeoutMs = 5000;
// Characters are looked for on the keys of a standard keyboard only (the main block, the numeric pad,
// the key left of Z): keymaps also give media and vendor keys symbols (EuroSign, plusminus), which no
// keyboard of the user may have and which some desktops do not type.
constexpr xkb_keycode_t kLastMainKey = 97;

std::string utf8(char32_t ch) {
    return QString::fromUcs4(&ch, 1).toStdString();
}

DesktopLayout unreadable(const QString& why) {
    DesktopLayout l;
    l.unreadable = why.toStdString();
    return l;
}

DesktopLayout fromId(const QString& layout, const QString& variant, const QString& options) {
    DesktopLayout l;
    l.layout = layout.trimmed().toStdString();
    l.variant = variant.trimmed().toStdString();
    l.options = options.trimmed().toStdString();
    return l;
}

// `gsettings get SCHEMA KEY`: the printed value, or none with why not.
std::optional<QString> gsettings(const QString& key, QString* why) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty()) {
        *why = QStringLiteral("gsettings is not installed");
        return std::nullopt;
    }
    QProcess p;
    p.start(program, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.input-sources"), key});
    if (!p.waitForFinished(kSettingsTimeoutMs) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        *why = QStringLiteral("gsettings get org.gnome.desktop.input-sources %1 failed: %2")
                   .arg(key, QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
        p.kill();
        p.waitForFinished(1000);
        return std::nullopt;
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// KWin's current layout number, 0 when it does not say.
int kdeCurrentLayout() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.keyboard"), QStringLiteral("/Layouts"),
        QStringLiteral("org.kde.KeyboardLayouts"), QStringLiteral("getLayout"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kSettingsTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage ? static_cast<int>(reply.arguments().value(0).toUInt())
                                                      : 0;
}

} // namespace

std::string DesktopLayout::name() const {
    return variant.empty() ? layout : layout + "(" + variant + ")";
}

DesktopLayout gnomeLayout(const QString& sources, const QString& mruSources, const QString& xkbOptions) {
    static const QRegularExpression pair(QStringLiteral("\\(\\s*'([^']*)'\\s*,\\s*'([^']*)'\\s*\\)"));
    auto parse = [](const QString& text) {
        std::vector<std::pair<QString, QString>> out;
        for (auto it = pair.globalMatch(text); it.hasNext();) {
            const auto m = it.next();
            out.emplace_back(m.captured(1), m.captured(2));
        }
        return out;
    };
    const auto all = parse(sources);
    const auto mru = parse(mruSources);
    QStringList options;
    static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
    for (auto it = quoted.globalMatch(xkbOptions); it.hasNext();)
        options += it.next().captured(1);
    // GNOME Shell starts with the most recently used source that is still configured, else the first;
    // with none configured it types on "us".
    std::pair<QString, QString> current{QStringLiteral("xkb"), QStringLiteral("us")};
    if (!all.empty()) {
        current = all.front();
        for (const auto& m : mru)
            if (std::find(all.begin(), all.end(), m) != all.end()) {
                current = m;
                break;
            }
    }
    if (current.first != QStringLiteral("xkb"))
        return unreadable(
            QStringLiteral("the current input source is the input method %1:%2, not a keyboard layout")
                .arg(current.first, current.second));
    const QString id = current.second;
    const qsizetype plus = id.indexOf(u'+');
    return fromId(plus < 0 ? id : id.left(plus), plus < 0 ? QString() : id.mid(plus + 1), options.join(u','));
}

DesktopLayout kdeLayout(const QString& kxkbrc, int current) {
    QString group;
    QMap<QString, QString> values;
    for (QString line : kxkbrc.split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'[')) {
            group = line;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (group == QStringLiteral("[Layout]") && eq > 0)
            values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    const QStringList layouts = values.value(QStringLiteral("LayoutList")).split(u',');
    const QStringList variants = values.value(QStringLiteral("VariantList")).split(u',');
    const QString options = values.value(QStringLiteral("Options"));
    // No list: KWin types on the default layout of the keyboard rules.
    if (layouts.value(0).trimmed().isEmpty())
        return fromId(qEnvironmentVariable("XKB_DEFAULT_LAYOUT", QStringLiteral("us")).section(u',', 0, 0),
                      qEnvironmentVariable("XKB_DEFAULT_VARIANT").section(u',', 0, 0),
                      qEnvironmentVariable("XKB_DEFAULT_OPTIONS"));
    const int i = current >= 0 && current < layouts.size() ? current : 0;
    return fromId(layouts.value(i), variants.value(i), options);
}

DesktopLayout readDesktopLayout(const QString& backendName) {
    QString desktop;
    if (backendName.endsWith(QStringLiteral(".gnome")))
        desktop = QStringLiteral("GNOME");
    else if (backendName.endsWith(QStringLiteral(".kde")))
        desktop = QStringLiteral("KDE");
    else {
        const QStringList names = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':');
        for (const QString& n : names)
            if (n.compare(QStringLiteral("GNOME"), Qt::CaseInsensitive) == 0 ||
                n.compare(QStringLiteral("KDE"), Qt::CaseInsensitive) == 0)
                desktop = n.toUpper();
    }
    if (desktop == QStringLiteral("GNOME")) {
        QString why;
        const auto sources = gsettings(QStringLiteral("sources"), &why);
        const auto mru = sources ? gsettings(QStringLiteral("mru-sources"), &why) : std::nullopt;
        const auto options = mru ? gsettings(QStringLiteral("xkb-options"), &why) : std::nullopt;
        if (!options)
            return unreadable(why);
        return gnomeLayout(*sources, *mru, *options);
    }
    if (desktop == QStringLiteral("KDE")) {
        const QString path =
            QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kxkbrc"));
        QString text;
        if (!path.isEmpty()) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                return unreadable(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
            text = QString::fromUtf8(f.readAll());
        }
        return kdeLayout(text, kdeCurrentLayout());
    }
    return unreadable(QStringLiteral("only GNOME's and KDE's keyboard settings are known, and this desktop "
                                     "is neither (XDG_CURRENT_DESKTOP=%1)")
                          .arg(qEnvironmentVariable("XDG_CURRENT_DESKTOP")));
}

// The keymap the desktop compiles from the same names, and a keyboard state to find out which keys and
// modifiers give a keysym: the same lookup the compositor makes for a key it receives.
struct LayoutKeys::Impl {
    DesktopLayout layout;
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    // XKB key codes of the modifier keys (0: none on this layout).
    xkb_keycode_t shift = 0, level3 = 0, level5 = 0, space = 0;

    ~Impl() {
        if (keymap)
            xkb_keymap_unref(keymap);
        if (context)
            xkb_context_unref(context);
    }

    // The key whose first level is `ks`, preferring real keys over the rules' virtual ones (<LVL3> 92,
    // <MDSW> 203), and the right Alt key for AltGr.
    xkb_keycode_t keyWithFirstSym(xkb_keysym_t ks, xkb_keycode_t preferred) const {
        xkb_keycode_t found = 0;
        for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap); kc <= xkb_keymap_max_keycode(keymap); ++kc) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, kc, 0, 0, &syms) != 1 || syms[0] != ks)
                continue;
            if (kc == preferred)
                return kc;
            if (!found || ((found == 92 || found == 203) && kc != 92 && kc != 203))
                found = kc;
        }
        return found;
    }

    // True when a key has `ks` on its third level or above: a desktop sent the keysym may find that key
    // first and type its first level (German: degree is Shift+^, but also on the fourth level of 0).
    bool beyondTwoLevelsAnywhere(xkb_keysym_t ks) const {
        for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap); kc <= xkb_keymap_max_keycode(keymap); ++kc) {
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, kc, 0);
            for (xkb_level_index_t level = 2; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                const int n = xkb_keymap_key_get_syms_by_level(keymap, kc, 0, level, &syms);
                if (std::find(syms, syms + n, ks) != syms + n)
                    return true;
            }
        }
        return false;
    }

    // The key and modifier keys that give `ks`; false when none do.
    bool find(xkb_keysym_t ks, std::vector<xkb_keycode_t>* keys, bool* beyondTwoLevels) const {
        if (!keymap || ks == XKB_KEY_NoSymbol)
            return false;
        for (unsigned mods = 0; mods < 8; ++mods) {
            std::vector<xkb_keycode_t> held;
            if (mods & 1)
                held.push_back(shift);
            if (mods & 2)
                held.push_back(level3);
            if (mods & 4)
                held.push_back(level5);
            if (std::find(held.begin(), held.end(), 0u) != held.end())
                continue;
            xkb_state* state = xkb_state_new(keymap);
            for (xkb_keycode_t m : held)
                xkb_state_update_key(state, m, XKB_KEY_DOWN);
            xkb_keycode_t hit = 0;
            for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap); kc <= kLastMainKey && !hit; ++kc) {
                if (kc == shift || kc == level3 || kc == level5)
                    continue;
                const xkb_keysym_t* syms = nullptr;
                if (xkb_state_key_get_syms(state, kc, &syms) == 1 && syms[0] == ks)
                    hit = kc;
            }
            xkb_state_unref(state);
            if (hit) {
                *keys = held;
                keys->push_back(hit);
                *beyondTwoLevels = mods > 1;
                return true;
            }
        }
        return false;
    }
};

LayoutKeys::LayoutKeys(DesktopLayout layout) : impl_(std::make_unique<Impl>()) {
    impl_->layout = std::move(layout);
    if (!impl_->layout.unreadable.empty())
        return;
    impl_->context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (impl_->context) {
        const xkb_rule_names names{"evdev", "pc105", impl_->layout.layout.c_str(),
                                   impl_->layout.variant.c_str(), impl_->layout.options.c_str()};
        impl_->keymap = xkb_keymap_new_from_names(impl_->context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    if (!impl_->keymap) {
        const std::string name = impl_->layout.name();
        impl_->layout = {};
        impl_->layout.unreadable = "the desktop's layout " + name + " is not known to libxkbcommon";
        return;
    }
    impl_->shift = impl_->keyWithFirstSym(XKB_KEY_Shift_L, 50);
    impl_->level3 = impl_->keyWithFirstSym(XKB_KEY_ISO_Level3_Shift, 108);
    impl_->level5 = impl_->keyWithFirstSym(XKB_KEY_ISO_Level5_Shift, 0);
}

LayoutKeys::~LayoutKeys() = default;

const DesktopLayout& LayoutKeys::layout() const {
    return impl_->layout;
}

KeyWay LayoutKeys::wayOf(char32_t ch) const {
    KeyWay way;
    const std::uint32_t ks = keysymOfChar(ch);
    if (!impl_->keymap) {
        // The layout is not known: only what every Latin layout has on its first two levels.
        const bool safe = (ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z') ||
                          (ch >= U'0' && ch <= U'9') || ch == U' ' || ch == U',' || ch == U'.' ||
                          ch == U'-' || ch == U'+';
        if (safe) {
            way.kind = KeyWay::Kind::Keysym;
            way.keysym = ks;
        }
        return way;
    }
    std::vector<xkb_keycode_t> keys;
    bool beyond = false;
    auto evdev = [](const std::vector<xkb_keycode_t>& k) {
        std::vector<std::uint32_t> out;
        for (xkb_keycode_t kc : k)
            out.push_back(kc - 8);
        return out;
    };
    if (impl_->find(ks, &keys, &beyond)) {
        if (!beyond && !impl_->beyondTwoLevelsAnywhere(ks)) {
            way.kind = KeyWay::Kind::Keysym;
            way.keysym = ks;
        } else {
            way.kind = KeyWay::Kind::Keycodes;
            way.strokes.push_back(evdev(keys));
        }
        return way;
    }
    // An accent the layout has only as a dead key (German ^ and `): the dead key, then SPACE.
    const std::uint32_t dead = deadKeysymOf(ch);
    std::vector<xkb_keycode_t> space;
    if (dead != ks && impl_->find(dead, &keys, &beyond) && impl_->find(XKB_KEY_space, &space, &beyond)) {
        way.kind = KeyWay::Kind::Keycodes;
        way.strokes.push_back(evdev(keys));
        way.strokes.push_back(evdev(space));
    }
    return way;
}

std::string LayoutKeys::refusal(const std::u32string& text) const {
    std::string missing;
    std::u32string seen;
    for (char32_t ch : text) {
        if (seen.find(ch) != std::u32string::npos || wayOf(ch).kind != KeyWay::Kind::None)
            continue;
        seen += ch;
        missing += (missing.empty() ? "'" : ", '") + utf8(ch) + "'";
    }
    if (missing.empty())
        return {};
    if (!impl_->keymap)
        return "Cannot type " + missing + ": the desktop's keyboard layout could not be read (" +
               impl_->layout.unreadable +
               "), so only letters, digits, space and , . - + are typed, which every layout has";
    return "Cannot type " + missing + " on the desktop's layout " + impl_->layout.name() +
           ": no key of it gives " + (seen.size() > 1 ? "these characters" : "this character") +
           "; add a layout that has them in the desktop's keyboard settings, or leave them out of the value";
}

} // namespace vornal::platform
