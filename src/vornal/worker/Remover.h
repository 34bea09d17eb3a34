#pragma once

#include <QString>

#include <bitset>
#include <vector>

namespace vornal::config {
class Config;
}

namespace vornal::worker {

// Deletes every occurrence of a set of characters from the value ("gk " on "12.5 kg" gives "12.5").
// Exact, case-sensitive matches of single characters; a surrogate pair is matched as one character.
class Remover {
public:
    explicit Remover(const QString& removeCharacters);
    // From the settings record's remove-characters text.
    static Remover fromConfig(const config::Config& config);

    // The value without the characters of the set. Unchanged when the value or the set is empty (a null
    // text stays null).
    QString removeCharacters(const QString& value) const;

    // Whether the worker runs this stage at all.
    bool active() const { return !characters_.isEmpty(); }
    const QString& characters() const { return characters_; }

private:
    bool contains(char32_t code) const;

    QString characters_;
    std::bitset<256> latin1_;     // the usual case: codes 0-255
    std::vector<char32_t> other_; // anything above
};

} // namespace vornal::worker
