#include "vornal/worker/AutoPortWorker.h"

#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"

#include <Direduva/Errors.h>
#include <Direduva/SerialConfig.h>
#include <Direduva/SerialPortLocal.h>

#include <chrono>
#include <memory>

namespace vornal::worker {

const util::ResourceBundle& AutoPortWorker::resourceBundle() {
    return util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"));
}

QString AutoPortWorker::text(const char* key) {
    return resourceBundle().getString(QString::fromLatin1(key));
}

AutoPortWorker::AutoPortWorker(AutoPortWorkerView* view, const QStringList& ports, QObject* parent)
    : QObject(parent), view_(view), ports_(ports) {}

AutoPortWorker::~AutoPortWorker() {
    cancel();
    if (thread_.joinable())
        thread_.join();
}

void AutoPortWorker::execute() {
    if (started_.exchange(true))
        return;
    view_->setButtonToCancel();
    thread_ = std::thread([this] { doInBackground(); });
}

void AutoPortWorker::cancel() {
    if (done_)
        return;
    {
        std::lock_guard lock(waitMutex_);
        cancelled_ = true;
    }
    wake_.notify_all();
}

bool AutoPortWorker::pause() {
    std::unique_lock lock(waitMutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(PAUSE_MS), [this] { return cancelled_.load(); });
    return !cancelled_;
}

void AutoPortWorker::publish(const QString& text) {
    util::postQueued(this, [this, text] { view_->update(text, AutoPortWorkerView::Style::Plain); });
}

void AutoPortWorker::doInBackground() {
    publish(text("auto.port.detection.started"));
    std::unique_ptr<Direduva::SerialPortLocal> sp;
    // Lines back to off, then closed; the port is left as the probe found it when even that fails.
    auto closePort = [&sp] {
        if (!sp)
            return;
        try {
            if (sp->isOpen()) {
                sp->setDTR(false);
                sp->setRTS(false);
            }
        } catch (const std::exception&) {
        }
        try {
            sp->close();
        } catch (const std::exception&) {
        }
        sp.reset();
    };
    try {
        for (const QString& name : ports_) {
            if (cancelled_)
                break;
            publish(util::MessageFormat::format(text("testing.port.0"), name));
            int score = 0;
            try {
                const std::string n = name.toStdString();
                Direduva::SerialPortLocal::addPortName(n);
                Direduva::SerialConfig sc(n);
                sc.setBitRate(Direduva::SerialConfig::BR_9600);
                sc.setDataBits(Direduva::SerialConfig::LN_8BITS);
                sc.setParity(Direduva::SerialConfig::PY_NONE);
                sc.setStopBits(Direduva::SerialConfig::ST_1BITS);
                sc.setHandshake(Direduva::SerialConfig::HS_NONE);
                sp = std::make_unique<Direduva::SerialPortLocal>(sc);
                score = probe(*sp, name, [this] { return pause(); });
                if (cancelled_)
                    break; // closed below
                sp->close();
                sp.reset();
            } catch (const Direduva::PortError& e) {
                // This port scores nothing; the others are still tried.
                publish(QString::fromUtf8(e.what()));
                closePort();
                continue;
            }
            // On equal scores the earlier port stays.
            if (score > bestPortConfidence_) {
                bestPortName_ = name;
                bestPortConfidence_ = score;
            }
            publish(text("confidence") + u' ' + QString::number(score));
        }
    } catch (const std::exception& e) {
        failure_ = QString::fromUtf8(e.what());
    }
    closePort();
    util::postQueued(this, [this] { done(); });
}

void AutoPortWorker::done() {
    if (thread_.joinable())
        thread_.join();
    view_->setButtonToClose();
    if (failure_) {
        outcome_ = Outcome::Failed;
        view_->update(text("execution.exception") + *failure_, AutoPortWorkerView::Style::Plain);
    } else if (cancelled_) {
        outcome_ = Outcome::Cancelled;
        view_->update(text("stopped"), AutoPortWorkerView::Style::Plain);
    } else if (bestPortName_) {
        outcome_ = Outcome::Found;
        result_ = bestPortName_;
        view_->setPort(*bestPortName_);
        view_->update(text("best.port") + u' ' + *bestPortName_, AutoPortWorkerView::Style::Emphasis);
    } else {
        outcome_ = Outcome::NotFound;
        view_->update(text("could.not.auto.detect.port"), AutoPortWorkerView::Style::Plain);
    }
    done_ = true;
    emit finished();
}

} // namespace vornal::worker
