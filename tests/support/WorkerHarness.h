#pragma once
// A view that records what a reading worker reports, and helpers to run the event loop until the worker
// has published enough or has finished.

#include "support/WaitFor.h"
#include "vornal/worker/WeightWorker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <vector>

namespace vornal::test {

class RecordingView : public worker::WeightWorkerView {
public:
    void logEvent(const QString& text) override { add(QStringLiteral("event: ") + text); }
    void logImportantEvent(const QString& text) override { add(QStringLiteral("important: ") + text); }
    void setConnectedInGUI(bool connected) override {
        add(connected ? QStringLiteral("connected") : QStringLiteral("disconnected"));
    }
    void update(const worker::DataLine& line) override {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread())
            << "lines are delivered on the creating thread";
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    void showWarning(const QString& title, const QString& message) override {
        add(QStringLiteral("warning: ") + title + QStringLiteral(": ") + message);
    }

    std::vector<worker::DataLine> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    QStringList log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    int countLog(const QString& prefix) const {
        int n = 0;
        for (const QString& l : log())
            n += l.startsWith(prefix) ? 1 : 0;
        return n;
    }
    QStringList values() const {
        QStringList v;
        for (const auto& l : lines())
            v += l.getProcessedData();
        return v;
    }

private:
    void add(const QString& s) {
        std::lock_guard lock(mutex_);
        log_ += s;
    }
    mutable std::mutex mutex_;
    std::vector<worker::DataLine> lines_;
    QStringList log_;
};

// Cancels the worker and runs the event loop until it has reported its end.
inline bool stopAndWait(worker::WeightWorker& w, int timeoutMs = 5000) {
    w.cancel();
    return waitFor([&] { return w.isDone(); }, timeoutMs);
}

} // namespace vornal::test
