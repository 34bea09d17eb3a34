#pragma once

#include <QMetaObject>
#include <QObject>

#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define VORNAL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VORNAL_THREAD_SANITIZER 1
#endif
#endif

#ifdef VORNAL_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace vornal::util {

#ifdef VORNAL_THREAD_SANITIZER
namespace detail {
// The token that stands for Qt's event queues: posting releases it, running or dropping a posted call
// acquires it. (Every object we post to lives on the user-interface thread, so one token for all
// queues is what Qt's own lock gives.)
inline char queueToken;
// Set while this thread is posting: the copies of a call it drops then are its own.
inline thread_local int posting = 0;

// Owns a call on its way to another thread. Each copy Qt makes of it announces the hand-over once it
// is complete; the receiving side acquires before it touches the copy. Whoever runs or drops the call
// deletes it.
template <typename Fn> class Handover {
public:
    explicit Handover(Fn* fn) : fn_(fn) { __tsan_release(&queueToken); }
    Handover(Handover&& other) noexcept : fn_(std::exchange(other.fn_, nullptr)) {
        __tsan_release(&queueToken);
    }
    Handover(const Handover&) = delete;
    Handover& operator=(const Handover&) = delete;
    Handover& operator=(Handover&&) = delete;
    ~Handover() {
        if (!posting)
            __tsan_acquire(&queueToken);
        delete fn_;
    }
    void operator()() {
        __tsan_acquire(&queueToken);
        (*fn_)();
    }

private:
    Fn* fn_;
};
} // namespace detail
#endif

// Runs `fn` on the thread of `context`, from its event loop, after the current event; dropped when
// `context` is destroyed first. Everything the calling thread did before the call, including building
// `fn` and what it captured, is visible to `fn`: Qt's event queue hands it over under a lock.
//
// Qt's own libraries are not built with the thread checker, so that lock is invisible to it; in
// checker builds the hand-over is announced explicitly (released by the posting thread, acquired before
// `fn` runs or is dropped), so our data passed this way is checked like any other and never reported
// falsely.
template <typename F> void postQueued(QObject* context, F&& fn) {
#ifdef VORNAL_THREAD_SANITIZER
    using Fn = std::decay_t<F>;
    ++detail::posting;
    QMetaObject::invokeMethod(context, detail::Handover<Fn>(new Fn(std::forward<F>(fn))),
                              Qt::QueuedConnection);
    --detail::posting;
#else
    QMetaObject::invokeMethod(context, std::forward<F>(fn), Qt::QueuedConnection);
#endif
}

} // namespace vornal::util
