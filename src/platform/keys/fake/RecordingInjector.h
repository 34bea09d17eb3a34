#pragma once

// A key injector that only records: presses, releases and pauses, in order. For tests of everything
// that types, without a display.

#include "../KeyInjector.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vornal::platform {

class RecordingInjector : public KeyInjector {
public:
    struct Event {
        enum class Kind { Press, Release, Pause, Character };
        Kind kind;
        int value; // key code, milliseconds of a pause, or the code point typed as itself
        friend bool operator==(const Event&, const Event&) = default;
    };
    static Event press(int code) { return {Event::Kind::Press, code}; }
    static Event release(int code) { return {Event::Kind::Release, code}; }
    static Event pauseOf(int ms) { return {Event::Kind::Pause, ms}; }
    static Event character(char32_t ch) { return {Event::Kind::Character, static_cast<int>(ch)}; }

    // Pauses are recorded; they really wait only when `realPauses` is set (for interruption tests).
    explicit RecordingInjector(bool realPauses = false) : realPauses_(realPauses) {}

    bool pause(int ms, std::stop_token stop) override;
    std::optional<bool> capsLockOn() override;
    std::string name() const override { return "recording"; }
    std::optional<bool> userModifiersDown() override;
    std::optional<bool> hasFocusTarget() override;
    unsigned long focusWindow() override;
    std::string cannotType(const std::u32string& text) override;

    // Everything recorded so far (a copy: typing may go on in another thread).
    std::vector<Event> events() const;
    void clear();
    // "P16 P65 R65 R16 ..." with pauses as "~20" and characters typed as themselves as "C233": short
    // and readable in test failures.
    std::string trace() const;
    void setCapsLock(std::optional<bool> on);
    // Pressing / releasing this code fails with std::runtime_error("refused by test").
    void failOnPress(int code);
    void failOnRelease(int code);
    // After `keys` more presses, every press, release and pause fails with KeyInjectorLost (the
    // desktop session went away).
    void loseAfter(int keys);
    // What the waits of a typist see: the user's modifiers, whether a window has the focus (and which).
    void setUserModifiers(std::optional<bool> down);
    void setFocusWindow(std::optional<unsigned long> window);
    // Values holding this character are refused before any key (the message names it).
    void refuse(char32_t ch);

protected:
    void pressKey(int code) override;
    void releaseKey(int code) override;
    void typeChar(char32_t ch) override;

private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::optional<bool> caps_ = false;
    std::set<int> failPress_, failRelease_;
    bool realPauses_;
    int pressesLeft_ = -1; // -1: never lost
    std::optional<bool> modifiers_;
    std::optional<unsigned long> focus_;
    std::set<char32_t> refused_;
    void checkLost() const;
};

std::string toTrace(const std::vector<RecordingInjector::Event>& events);

} // namespace vornal::platform
