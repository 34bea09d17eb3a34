#include "SimPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace vazsim {

namespace {
constexpr int kStepsPerCall = 200000;
constexpr std::size_t kMaxQueued = 16u << 20;

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}
} // namespace

SimPort::SimPort(const PortDescription& desc, std::int64_t openedAt)
    : desc_(desc), gateSince_(openedAt), rng_(desc.seed ? desc.seed : 0x9E3779B97F4A7C15ULL) {
    if (!desc_.program.empty())
        stack_.push_back({&desc_.program, 0, 1});
    else
        finished_ = true;
    for (const ValueSpec& v : desc_.values)
        values_.push_back(v.start);
    used_.assign(desc_.values.size(), false);
}

SimPort::~SimPort() {
    if (record_)
        std::fclose(record_);
}

std::string SimPort::openRecord() {
    if (desc_.recordPath.empty())
        return {};
    record_ = std::fopen(desc_.recordPath.c_str(), "ab");
    if (!record_)
        return "cannot write the record file " + desc_.recordPath + ": " + std::strerror(errno);
    return {};
}

bool SimPort::line(LineMode m) const {
    switch (m) {
    case LineMode::High:
        return true;
    case LineMode::Low:
        return false;
    case LineMode::FollowDtr:
        return dtr_;
    case LineMode::FollowRts:
        return rts_;
    }
    return false;
}

std::int64_t SimPort::programTime(std::int64_t wall) const {
    if (!gateOpen())
        return programBase_;
    return programBase_ + std::max<std::int64_t>(0, wall - gateSince_);
}

std::int64_t SimPort::wallTime(std::int64_t program) const {
    return gateSince_ + (program - programBase_);
}

void SimPort::gateChanging(std::int64_t now) {
    programBase_ = programTime(now);
    gateSince_ = now;
}

void SimPort::setDtr(bool on, std::int64_t now) {
    advance(now, std::nullopt);
    gateChanging(now);
    dtr_ = on;
}

void SimPort::setRts(bool on, std::int64_t now) {
    advance(now, std::nullopt);
    gateChanging(now);
    rts_ = on;
}

std::uint64_t SimPort::random() {
    // xorshift64*: a fixed sequence per seed, so a script behaves the same on every run.
    rng_ ^= rng_ >> 12;
    rng_ ^= rng_ << 25;
    rng_ ^= rng_ >> 27;
    return rng_ * 2685821657736338717ULL;
}

std::string SimPort::expand(const Piece& piece) {
    if (piece.value < 0)
        return piece.literal;
    const ValueSpec& v = desc_.values[std::size_t(piece.value)];
    std::int64_t& cur = values_[std::size_t(piece.value)];
    if (used_[std::size_t(piece.value)]) {
        cur = saturatingAdd(cur, v.step);
        if (v.drift > 0) {
            std::uint64_t span = std::uint64_t(v.drift) * 2 + 1;
            cur = saturatingAdd(cur, std::int64_t(random() % span) - v.drift);
        }
        if (v.hasMin && cur < v.min)
            cur = v.min;
        if (v.hasMax && cur > v.max)
            cur = v.max;
    }
    used_[std::size_t(piece.value)] = true;
    return formatValue(cur, v.decimals, piece.plusSign, piece.zeroPad, piece.width);
}

void SimPort::emit(const Payload& p) {
    std::string bytes;
    for (const Piece& piece : p.pieces)
        bytes += expand(piece);
    if (bytes.empty())
        return;
    std::size_t first = rx_.size();
    for (char c : bytes)
        rx_.emplace_back(std::uint8_t(c), mismatch_);
    for (const ErrorMark& e : p.errors)
        rx_[first + std::min(e.index, bytes.size() - 1)].second |= e.flags;
}

bool SimPort::step(std::int64_t limit) {
    while (!stack_.empty()) {
        Frame& f = stack_.back();
        if (f.pc == f.body->size()) {
            if (f.remaining < 0 || --f.remaining > 0) {
                f.pc = 0;
                continue;
            }
            stack_.pop_back();
            continue;
        }
        const Statement& s = (*f.body)[f.pc++];
        switch (s.kind) {
        case Statement::Wait:
            nextAt_ += s.ms;
            return true;
        case Statement::Send:
            emit(s.payload);
            return true;
        case Statement::Repeat:
            stack_.push_back({&s.body, 0, s.count});
            return true;
        case Statement::Loop:
            stack_.push_back({&s.body, 0, -1});
            return true;
        case Statement::Unplug:
            programUnplugAt_ = std::min(limit, wallTime(nextAt_));
            stack_.clear();
            return false;
        }
    }
    return false;
}

void SimPort::advance(std::int64_t now, std::optional<std::int64_t> unplugAt) {
    std::int64_t wallLimit = now;
    if (unplugAt && *unplugAt < wallLimit)
        wallLimit = *unplugAt;
    if (programUnplugAt_ && *programUnplugAt_ < wallLimit)
        wallLimit = *programUnplugAt_;
    const std::int64_t limit = programTime(wallLimit);
    // Statements and replies run in the order of their due times; at equal times the program first.
    // A script that produces bytes far faster than they are read (a huge 'repeat' without a wait)
    // pauses once a lot is waiting, and each call does a bounded amount of work: nothing is dropped,
    // and no call hangs.
    for (int budget = kStepsPerCall; budget > 0 && rx_.size() < kMaxQueued; --budget) {
        auto reply =
            std::min_element(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
                return a.due != b.due ? a.due < b.due : a.seq < b.seq;
            });
        const bool programDue = !finished_ && !programUnplugAt_ && nextAt_ <= limit;
        const bool replyDue = reply != pending_.end() && reply->due <= limit;
        if (programDue && (!replyDue || nextAt_ <= reply->due)) {
            if (!step(wallLimit))
                finished_ = true;
            if (programUnplugAt_)
                pending_.clear();
            continue;
        }
        if (replyDue) {
            const Payload* p = reply->payload;
            pending_.erase(reply);
            emit(*p);
            continue;
        }
        break;
    }
}

std::optional<std::int64_t> SimPort::nextEventAt() const {
    if (!gateOpen() || programUnplugAt_)
        return std::nullopt;
    std::optional<std::int64_t> next;
    if (!finished_)
        next = nextAt_;
    for (const Pending& p : pending_)
        if (!next || p.due < *next)
            next = p.due;
    if (!next)
        return std::nullopt;
    return wallTime(*next);
}

std::size_t SimPort::read(std::uint8_t* buffer, std::size_t n) {
    std::size_t k = std::min(n, rx_.size());
    for (std::size_t i = 0; i < k; ++i) {
        buffer[i] = rx_.front().first;
        conditions_ |= rx_.front().second;
        rx_.pop_front();
    }
    return k;
}

void SimPort::setLineSettings(const LineSettings& s) {
    mismatch_ = 0;
    if (!desc_.hasSettings || s == desc_.settings)
        return;
    mismatch_ = FlagFraming;
    if (s.parity != desc_.settings.parity)
        mismatch_ |= FlagParity;
}

bool SimPort::takeCondition(std::uint8_t flag) {
    bool set = (conditions_ & flag) != 0;
    conditions_ &= std::uint8_t(~flag);
    return set;
}

std::size_t SimPort::write(const std::uint8_t* data, std::size_t n, std::int64_t now) {
    // With RTS/CTS handshake the port sends nothing while the instrument holds CTS low.
    const bool hardOut = handshake_ == 2 || (handshake_ >= 16 && (handshake_ & 0x20));
    if (hardOut && !cts())
        return 0;
    advance(now, std::nullopt);
    if (record_ && n > 0) {
        std::fwrite(data, 1, n, record_);
        std::fflush(record_);
    }
    std::size_t longest = 0;
    for (const ReplyRule& r : desc_.replies)
        longest = std::max(longest, r.trigger.size());
    const std::int64_t pnow = programTime(now);
    for (std::size_t i = 0; i < n; ++i) {
        if (desc_.echo)
            rx_.emplace_back(data[i], std::uint8_t(0));
        if (longest == 0)
            continue;
        writtenTail_ += char(data[i]);
        if (writtenTail_.size() > longest)
            writtenTail_.erase(0, writtenTail_.size() - longest);
        for (const ReplyRule& r : desc_.replies) {
            if (writtenTail_.ends_with(r.trigger)) {
                pending_.push_back({pnow + r.delayMs, seq_++, &r.reply});
                writtenTail_.clear();
                break;
            }
        }
    }
    advance(now, std::nullopt);
    return n;
}

} // namespace vazsim
