#include "RecordingInjector.h"

namespace vornal::platform {

void RecordingInjector::checkLost() const {
    if (pressesLeft_ == 0)
        throw KeyInjectorLost("the test ended the session");
}

void RecordingInjector::loseAfter(int keys) {
    std::lock_guard lock(mutex_);
    pressesLeft_ = keys;
}

void RecordingInjector::typeChar(char32_t ch) {
    std::lock_guard lock(mutex_);
    checkLost();
    events_.push_back(character(ch));
}

bool RecordingInjector::pause(int ms, std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        checkLost();
        events_.push_back(pauseOf(ms));
    }
    if (realPauses_)
        return KeyInjector::pause(ms, stop);
    return !stop.stop_requested();
}

std::optional<bool> RecordingInjector::userModifiersDown() {
    std::lock_guard lock(mutex_);
    return modifiers_;
}

std::optional<bool> RecordingInjector::hasFocusTarget() {
    std::lock_guard lock(mutex_);
    if (!focus_)
        return std::nullopt;
    return *focus_ != 0;
}

unsigned long RecordingInjector::focusWindow() {
    std::lock_guard lock(mutex_);
    return focus_.value_or(0);
}

std::string RecordingInjector::cannotType(const std::u32string& text) {
    std::lock_guard lock(mutex_);
    for (char32_t ch : text)
        if (refused_.count(ch))
            return "the test refuses U+" + std::to_string(static_cast<unsigned>(ch));
    return {};
}

void RecordingInjector::setUserModifiers(std::optional<bool> down) {
    std::lock_guard lock(mutex_);
    modifiers_ = down;
}

void RecordingInjector::setFocusWindow(std::optional<unsigned long> window) {
    std::lock_guard lock(mutex_);
    focus_ = window;
}

void RecordingInjector::refuse(char32_t ch) {
    std::lock_guard lock(mutex_);
    refused_.insert(ch);
}

std::optional<bool> RecordingInjector::capsLockOn() {
    std::lock_guard lock(mutex_);
    return caps_;
}

void RecordingInjector::setCapsLock(std::optional<bool> on) {
    std::lock_guard lock(mutex_);
    caps_ = on;
}

void RecordingInjector::failOnPress(int code) {
    std::lock_guard lock(mutex_);
    failPress_.insert(code);
}

void RecordingInjector::failOnRelease(int code) {
    std::lock_guard lock(mutex_);
    failRelease_.insert(code);
}

void RecordingInjector::pressKey(int code) {
    std::lock_guard lock(mutex_);
    checkLost();
    if (failPress_.count(code))
        throw std::runtime_error("refused by test");
    events_.push_back(press(code));
    if (pressesLeft_ > 0)
        --pressesLeft_;
}

void RecordingInjector::releaseKey(int code) {
    std::lock_guard lock(mutex_);
    checkLost();
    if (failRelease_.count(code))
        throw std::runtime_error("refused by test");
    events_.push_back(release(code));
}

std::vector<RecordingInjector::Event> RecordingInjector::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void RecordingInjector::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

std::string RecordingInjector::trace() const {
    return toTrace(events());
}

std::string toTrace(const std::vector<RecordingInjector::Event>& events) {
    std::string out;
    for (const auto& e : events) {
        if (!out.empty())
            out += ' ';
        switch (e.kind) {
        case RecordingInjector::Event::Kind::Press:
            out += 'P';
            break;
        case RecordingInjector::Event::Kind::Release:
            out += 'R';
            break;
        case RecordingInjector::Event::Kind::Pause:
            out += '~';
            break;
        case RecordingInjector::Event::Kind::Character:
            out += 'C';
            break;
        }
        out += std::to_string(e.value);
    }
    return out;
}

} // namespace vornal::platform
