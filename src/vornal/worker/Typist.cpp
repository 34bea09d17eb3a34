#include "Typist.h"

namespace vornal::worker {

std::shared_ptr<Typist> Typist::create() {
    return std::shared_ptr<Typist>(new Typist());
}

quint64 Typist::draw() {
    std::lock_guard lock(mutex_);
    const quint64 t = next_++;
    open_.insert(t);
    return t;
}

void Typist::release(quint64 ticket) {
    {
        std::lock_guard lock(mutex_);
        if (open_.erase(ticket) == 0)
            return;
    }
    changed_.notify_all();
}

std::optional<Typist::Turn> Typist::waitTurn(quint64 ticket, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    const bool ended = changed_.wait(lock, stop, [&] {
        return !lost_.isEmpty() || open_.empty() || *open_.begin() == ticket || !open_.contains(ticket);
    });
    if (!ended)
        return std::nullopt;
    return open_.contains(ticket) || !lost_.isEmpty() ? Turn::Yours : Turn::Released;
}

void Typist::join() {
    std::lock_guard lock(mutex_);
    ++users_;
}

void Typist::leave() {
    {
        std::lock_guard lock(mutex_);
        if (users_ > 0 && --users_ == 0)
            lost_.clear(); // the next start opens a new keyboard output
    }
    changed_.notify_all();
}

int Typist::users() const {
    std::lock_guard lock(mutex_);
    return users_;
}

void Typist::setLost(const QString& why) {
    {
        std::lock_guard lock(mutex_);
        if (lost_.isEmpty())
            lost_ = why.isEmpty() ? QStringLiteral("keyboard output lost") : why;
    }
    changed_.notify_all();
}

bool Typist::lost() const {
    std::lock_guard lock(mutex_);
    return !lost_.isEmpty();
}

QString Typist::lostReason() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

int Typist::open() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(open_.size());
}

} // namespace vornal::worker
