#include "vornal/worker/LineExtras.h"

#include "vornal/util/DeviceUsers.h"
#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"
#include "vornal/worker/DataLine.h"
#include "vornal/worker/DataLog.h"
#include "vornal/worker/RequestSender.h"
#include "vornal/worker/WeightWorker.h"

#include <platform/hotkey/GlobalHotkey.h>

#include <QDir>
#include <QPointer>

namespace vornal::worker {

using config::ConfigHelper;

namespace {
// A message of the worker bundle with its arguments.
template <class... Args> QString format(const char* key, const Args&... args) {
    return util::MessageFormat::format(WeightWorker::text(key), args...);
}
} // namespace

LineExtras::LineExtras(QObject* parent) : QObject(parent) {}

LineExtras::~LineExtras() {
    hotkey_.reset();
    requester_.reset();
}

void LineExtras::start(const config::Config& config, const Options& options, Write write) {
    config_ = config::Config::copyConfig(config);
    options_ = options;
    // A second reader of the same device (a terminal program, "cat") takes bytes meant for this one.
    if (const QStringList others = util::otherProcessesUsing(config_.getPort()); !others.isEmpty())
        emit logEvent(format("port.used.by.others.0.1", config_.getPort(), others.join(QStringLiteral(", "))),
                      true);
    if (const auto filter = StabilityFilter::fromConfig(config_)) {
        stability_ = std::make_unique<StabilityFilter>(*filter);
        emit logEvent(
            WeightWorker::text(filter->oncePerPlacement() ? "stable.once.per.placement" : "stable.only"),
            false);
    } else if (config_.getTypeOnlyStable() || config_.getOncePerPlacement()) {
        emit logEvent(WeightWorker::text("stable.no.rule"), true);
    }
    if (!config_.getDataLogFile().isEmpty()) {
        dataLog_ = std::make_unique<DataLog>(config_.getDataLogFile(), config_.getDataLogMaxBytes(),
                                             config_.getDataLogKeep());
        emit logEvent(format("data.log.0", QDir::toNativeSeparators(config_.getDataLogFile())), false);
    }
    const auto command = ConfigHelper::RequestCommand::toBytes(config_.getRequestCommand());
    const bool hasCommand = command && !command->isEmpty();
    // Without a command the socket still answers vornal-cli request, with the reason.
    if (!hasCommand && !options_.requestServer)
        return;
    requester_ = std::make_unique<RequestSender>(hasCommand ? *command : QByteArray(), std::move(write));
    requester_->setTarget(config_.getPort());
    requester_->setProfile(options_.profileName);
    connect(requester_.get(), &RequestSender::sent, this, [this](const QByteArray& bytes) {
        emit logEvent(format("request.sent.0", RequestSender::formatCommand(bytes)), false);
        emit requestSent();
    });
    connect(requester_.get(), &RequestSender::failed, this,
            [this](const QString& why) { emit logEvent(format("request.failed.0", why), true); });
    connect(requester_.get(), &RequestSender::serverMessage, this,
            [this](const QString& message, bool important) { emit logEvent(message, important); });
    const QString every = config_.getRequestEverySeconds();
    if (hasCommand && !every.isEmpty()) {
        requester_->setInterval(every.toInt());
        emit logEvent(format("request.every.0", every), false);
    }
    QString why;
    if (options_.requestServer && !requester_->listen(&why))
        emit logEvent(format("request.socket.unavailable.0", why), false);
    if (hasCommand && options_.hotkey && !config_.getRequestHotkey().isEmpty())
        grabHotkey();
}

void LineExtras::grabHotkey() {
    const auto chord = ConfigHelper::RequestHotkey::parse(config_.getRequestHotkey());
    if (!chord)
        return;
    std::string why;
    hotkey_ = options_.hotkeyBackend ? options_.hotkeyBackend(&why) : platform::createGlobalHotkey(&why);
    if (hotkey_) {
        // The press arrives on the backend's thread; it is reported on this one.
        const QPointer<LineExtras> self(this);
        why = hotkey_->grab({chord->modifiers, chord->key.toStdString()}, [self] {
            util::postQueued(self.data(), [self] {
                if (self)
                    emit self->hotkeyPressed();
            });
        });
        if (why.empty()) {
            emit logEvent(format("hotkey.sends.0", config_.getRequestHotkey()), false);
            return;
        }
        hotkey_.reset();
    }
    emit logEvent(format("hotkey.unusable.0.1", config_.getRequestHotkey(), QString::fromStdString(why)),
                  true);
}

void LineExtras::stop(bool keepLog) {
    if (hotkey_)
        hotkey_->release();
    hotkey_.reset();
    requester_.reset();
    if (keepLog && dataLog_)
        keptLog_ = std::move(dataLog_);
    dataLog_.reset();
    stability_.reset();
}

void LineExtras::closeLog() {
    keptLog_.reset();
}

StabilityFilter::Verdict LineExtras::judge(DataLine& line) {
    if (!stability_)
        return line.hasValue() ? StabilityFilter::Verdict::Pass : StabilityFilter::Verdict::NoValue;
    return stability_->process(line);
}

void LineExtras::addRow(quint64 id, const DataLine& received, const QString& result) {
    rows_.push_back({id, received.getDateTime(), received.getRawData(), received.getProcessedData(),
                     id ? QString() : result});
    writeRows();
}

void LineExtras::settle(quint64 id, const QString& result) {
    for (PendingRow& row : rows_) {
        if (row.id == id) {
            row.id = 0;
            row.result = result;
            break;
        }
    }
    writeRows();
}

void LineExtras::settleAll(const QString& result) {
    for (PendingRow& row : rows_) {
        if (row.id != 0) {
            row.id = 0;
            row.result = result;
        }
    }
    writeRows();
}

bool LineExtras::rowsWaiting() const {
    for (const PendingRow& row : rows_)
        if (row.id != 0)
            return true;
    return false;
}

void LineExtras::writeRows() {
    while (!rows_.empty() && rows_.front().id == 0) {
        const PendingRow r = std::move(rows_.front());
        rows_.pop_front();
        DataLog* log = dataLog_ ? dataLog_.get() : keptLog_.get();
        if (!log)
            continue;
        const bool failingBefore = log->failing();
        const auto instrument = config_.getInstrument();
        const QString failure =
            log->append({r.time, config_.getPort(),
                         !options_.profileName.isEmpty() ? options_.profileName
                         : instrument                    ? instrument->toPlainString()
                                                         : QString(),
                         r.raw, r.value, r.result, instrument ? instrument->name() : QString()});
        if (!failure.isEmpty())
            emit logEvent(failure, true);
        if (log->failing() != failingBefore)
            emit dataLogFailing(log->failing(), log->path());
    }
}

bool LineExtras::canRequest() const {
    return requester_ && !requester_->command().isEmpty();
}

bool LineExtras::request() {
    return canRequest() && requester_->request();
}

} // namespace vornal::worker
