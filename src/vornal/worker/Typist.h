#pragma once

// The typing turn of a station: several connections (one instrument each) type into the same form,
// so their values must never interleave. Each connection's Keybot draws a ticket for every value it
// queues (in the order the values are handed over, which is the order their lines reached the
// connections' thread) and types a value only when its ticket is the oldest one still open; the value
// is typed whole (start key, prefix, characters, terminator) before the next ticket's turn. A value
// dropped unread (Stop, a lost keyboard output) gives its ticket back, so the others go on.
//
// The values keep their own connection's settings and report their results to it: the Typist knows
// only the tickets. A keyboard output lost by one connection ends typing for all that share the
// Typist; once the last of them has stopped, the Typist starts afresh with the next one.

#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>

namespace vornal::worker {

class Typist {
public:
    static std::shared_ptr<Typist> create();
    Typist(const Typist&) = delete;
    Typist& operator=(const Typist&) = delete;

    // A new ticket, later than every ticket drawn before. Any thread.
    quint64 draw();
    // The ticket's value has been typed, cut or dropped: the next ticket may go.
    void release(quint64 ticket);
    enum class Turn {
        Yours,   // the ticket is the oldest open one: type its value now
        Released // the ticket was given back meanwhile (its value was dropped)
    };
    // Waits until `ticket` is the oldest open ticket, it was released, or the keyboard output was
    // lost (then Yours: the caller finds lost() and reports its value). Empty when `stop` was requested.
    std::optional<Turn> waitTurn(quint64 ticket, std::stop_token stop);

    // The keystroke outputs using the Typist: the first join begins its use, the last leave ends it
    // (a lost keyboard output is forgotten then).
    void join();
    void leave();
    int users() const;

    // One connection's keyboard output can type no more: typing ends for every connection.
    void setLost(const QString& why);
    bool lost() const;
    QString lostReason() const;

    // Tickets drawn and not yet released.
    int open() const;

private:
    Typist() = default;
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::set<quint64> open_;
    quint64 next_ = 1;
    int users_ = 0;
    QString lost_;
};

} // namespace vornal::worker
