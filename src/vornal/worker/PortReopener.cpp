#include "vornal/worker/PortReopener.h"

#include "vornal/util/Queued.h"
#include "vornal/worker/WeightWorker.h"

#include <Direduva/Errors.h>

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace vornal::worker {

PortReopener::PortReopener(Hooks hooks, QObject* parent) : QObject(parent), hooks_(std::move(hooks)) {
    if (!hooks_.open)
        hooks_.open = [](const config::Config& c) { return WeightWorker::openPort(c); };
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &PortReopener::tryReopen);
    // An open that had not reached the driver when it was asked to end is asked again.
    abortTimer_ = new QTimer(this);
    abortTimer_->setInterval(20);
    connect(abortTimer_, &QTimer::timeout, this, [this] {
        if (!pending_ || !finished_ || finished_->load())
            abortTimer_->stop();
        else
            Direduva::SerialPortLocal::abortOpen(openingPort_);
    });
}

PortReopener::~PortReopener() {
    timer_->stop();
    endOpen();
}

void PortReopener::openInBackground(const config::Config& config, std::function<void(Opened)> done) {
    // An attempt of a connection stopped before is ended first (a Start right after a Stop).
    endOpen();
    start(config, std::move(done));
}

void PortReopener::start(const config::Config& config, std::function<void(Opened)> done) {
    pending_ = true;
    const unsigned attempt = ++attempt_;
    openingPort_ = config.getPort().toStdString();
    auto result = std::make_shared<Opened>();
    finished_ = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, result, attempt, generation = generation_, done = std::move(done),
                           finished = finished_, copy = config::Config::copyConfig(config)] {
        try {
            result->port = hooks_.open(copy);
        } catch (const Direduva::InvalidSettingError& e) {
            result->error = QString::fromUtf8(e.what());
            result->invalidSetting = true;
        } catch (const std::exception& e) {
            result->error = QString::fromUtf8(e.what());
        }
        finished->store(true);
        // Dropped with this object when it is gone by then (its destructor waits for this thread).
        util::postQueued(this, [this, result, attempt, generation, done] {
            if (attempt == attempt_) {
                pending_ = false;
                abortTimer_->stop();
            }
            // Cancelled meanwhile: a port that opened all the same closes here, with `result`.
            if (generation != generation_)
                return;
            done(std::move(*result));
        });
    });
}

void PortReopener::wait(const config::Config& config, const QString& stablePort, int pollMs) {
    config_ = config::Config::copyConfig(config);
    stablePort_ = stablePort;
    waiting_ = true;
    pauseMs_ = std::max(10, pollMs);
    attempts_ = 0;
    timer_->start(pauseMs_);
}

void PortReopener::cancel() {
    ++generation_;
    waiting_ = false;
    timer_->stop();
}

void PortReopener::tryReopen() {
    if (!waiting_) {
        timer_->stop();
        return;
    }
    const QString name = currentName(stablePort_);
    if (Direduva::SerialPortLocal::isNetworkPortName(name.toStdString())) {
        if (pending_)
            return;
        endOpen();
        timer_->stop();
        config_.setPort(name);
        start(config_, [this](Opened opened) {
            if (waiting_)
                reopenDone(std::move(opened.port));
        });
        return;
    }
    // A device file that is not there yet needs no open attempt.
    if (name.startsWith(u'/') && !QFileInfo::exists(name))
        return;
    if (!hooks_.openNow(name))
        return; // still gone, or not ready yet: the next tick tries again
    timer_->stop();
    waiting_ = false;
    hooks_.reopened(name);
}

void PortReopener::reopenDone(Port port) {
    if (!port || !hooks_.adopt(std::move(port))) {
        if (++attempts_ >= QUICK_NETWORK_ATTEMPTS)
            pauseMs_ = std::min(pauseMs_ * 2, MAX_NETWORK_PAUSE_MS);
        timer_->start(pauseMs_);
        return;
    }
    timer_->stop();
    waiting_ = false;
    hooks_.reopened(config_.getPort());
}

void PortReopener::endOpen() {
    if (!thread_.joinable())
        return;
    // The open may not have reached the driver yet when first asked: asked again until it is over.
    while (pending_ && finished_ && !finished_->load()) {
        Direduva::SerialPortLocal::abortOpen(openingPort_);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
    pending_ = false;
    abortTimer_->stop();
}

void PortReopener::abortOpen() {
    if (!pending_ || !finished_ || finished_->load())
        return;
    Direduva::SerialPortLocal::abortOpen(openingPort_);
    abortTimer_->start();
}

QString PortReopener::stableName(const QString& port) {
#ifdef Q_OS_LINUX
    const QString target = QFileInfo(port).canonicalFilePath();
    if (target.isEmpty())
        return port;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
#endif
    return port;
}

QString PortReopener::currentName(const QString& stable) {
#ifdef Q_OS_LINUX
    if (stable.startsWith(QStringLiteral("/dev/serial/by-id/"))) {
        const QString target = QFileInfo(stable).canonicalFilePath();
        return target.isEmpty() ? stable : target;
    }
#endif
    return stable;
}

} // namespace vornal::worker
