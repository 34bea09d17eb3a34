#pragma once

#include <QString>

namespace vornal::config {
class Config;
}

namespace vornal::worker {

// Keeps or removes a number of characters at the start or the end of the extracted value ("12.5g":
// remove the last 1 gives "12.5"). Characters are counted as the user sees them: a surrogate pair is
// one character and is never split.
class Editor {
public:
    enum class Operation { REMOVE, KEEP };
    enum class Position { FIRST, LAST };

    Editor(Operation operation, Position position, int numCharacters)
        : operation_(operation), position_(position), numCharacters_(numCharacters) {}
    // From the settings record's edit operation, position and number of characters (0 when empty).
    static Editor fromConfig(const config::Config& config);

    // The edited value. Unchanged when the count is 0 (or less) or the value is empty (a null text stays
    // null). Removing or keeping exactly all characters gives the empty text or the value. Throws
    // decimal::ProcessingError when the count is larger than the value.
    QString edit(const QString& value) const;

    // Whether the worker runs this stage at all.
    bool active() const { return numCharacters_ > 0; }
    Operation operation() const { return operation_; }
    Position position() const { return position_; }
    int numCharacters() const { return numCharacters_; }

private:
    Operation operation_;
    Position position_;
    int numCharacters_;
};

} // namespace vornal::worker
