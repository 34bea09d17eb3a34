#include "ChordDecoder.h"

#include <algorithm>

namespace vornal::platform {

ChordDecoder::ChordDecoder(const CharChords& layout) {
    for (const auto& [ch, seq] : layout) {
        if (seq.empty())
            continue;
        if (seq.front() == key::ALT && seq.size() > 1 &&
            std::all_of(seq.begin() + 1, seq.end(), [](int c) { return numpadDigit(c).has_value(); }))
            continue; // an ALT + numeric-pad code: collected digit by digit
        std::vector<int> keys = seq;
        bool dead = false;
        if (keys.size() > 1 && keys.back() == key::SPACE) {
            keys.pop_back();
            dead = true;
        }
        Entry e{{}, keys.back(), ch, dead};
        keys.pop_back();
        if (!std::all_of(keys.begin(), keys.end(), isModifierCode) || isModifierCode(e.key))
            continue; // not a chord of modifiers and one key
        e.modifiers = keys;
        std::sort(e.modifiers.begin(), e.modifiers.end());
        const bool known = std::any_of(entries_.begin(), entries_.end(), [&](const Entry& o) {
            return o.key == e.key && o.modifiers == e.modifiers;
        });
        if (!known)
            entries_.push_back(std::move(e));
    }
}

void ChordDecoder::modifierDown(int code) {
    if (std::find(held_.begin(), held_.end(), code) == held_.end())
        held_.push_back(code);
}

std::optional<int> ChordDecoder::modifierUp(int code) {
    held_.erase(std::remove(held_.begin(), held_.end(), code), held_.end());
    if (code != key::ALT || altDigits_.empty())
        return std::nullopt;
    int value = 0;
    for (int d : altDigits_)
        value = std::min(value * 10 + d, 0x10FFFF);
    altDigits_.clear();
    return value;
}

bool ChordDecoder::collectAltDigit(int code) {
    const auto digit = numpadDigit(code);
    if (!digit || held_.size() != 1 || held_.front() != key::ALT)
        return false;
    altDigits_.push_back(*digit);
    return true;
}

ChordDecoder::Press ChordDecoder::press(int code) {
    if (isModifierCode(code)) {
        modifierDown(code);
        return Press::Modifier;
    }
    if (collectAltDigit(code))
        return Press::AltDigit;
    const bool drop = code == key::SPACE && dropSpace_ && held_.empty();
    dropSpace_ = false;
    return drop ? Press::DroppedSpace : Press::Key;
}

bool ChordDecoder::isFixedKey(int code) {
    switch (code) {
    case key::ENTER:
    case key::TAB:
    case key::RIGHT:
    case key::DOWN:
    case key::SPACE:
    case key::DELETE:
    case key::ESCAPE:
    case key::MULTIPLY:
    case key::ADD:
    case key::DIVIDE:
        return true;
    default:
        return code >= key::F1 && code <= key::F1 + 11;
    }
}

ChordDecoder::Meaning ChordDecoder::decode(int code) const {
    Meaning m;
    m.code = code;
    if (!(held_.empty() && isFixedKey(code))) {
        std::vector<int> mods = held_;
        std::sort(mods.begin(), mods.end());
        for (const Entry& e : entries_) {
            if (e.key == code && e.modifiers == mods) {
                m.kind = e.dead ? Meaning::Kind::DeadCharacter : Meaning::Kind::Character;
                m.ch = e.ch;
                return m;
            }
        }
    }
    m.kind = Meaning::Kind::Key;
    m.modifiers = held_;
    return m;
}

void ChordDecoder::reset() {
    held_.clear();
    altDigits_.clear();
}

} // namespace vornal::platform
