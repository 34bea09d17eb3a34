#include "vornal/worker/WeightWorker.h"

#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"

#include <Direduva/Errors.h>
#include <Direduva/SerialConfig.h>
#include <Direduva/SerialPortLocal.h>

#include <QRegularExpression>

#include <chrono>
#include <stdexcept>

namespace vornal::worker {

using config::ConfigHelper;

namespace {

QString fromStd(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

// How many times in a row a port read may fail before the connection gives up. A read that fails keeps
// failing at full speed when the device is gone (and the driver could not tell a hang-up).
constexpr int maxConsecutiveReadFailures = 50;

// The longest wait for bytes in one go. cancel() wakes the wait, so this only bounds how long a lost
// wake-up could delay the stop; an idle connection wakes once per period.
constexpr int idleWaitMs = 1000;

} // namespace

const util::ResourceBundle& WeightWorker::resourceBundle() {
    return util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"));
}

QString WeightWorker::text(const char* key) {
    return resourceBundle().getString(QString::fromLatin1(key));
}

std::unique_ptr<Direduva::SerialPortLocal> WeightWorker::openPort(const config::Config& config) {
    const QString portName = config.getPort();
    if (portName.isEmpty())
        throw std::logic_error(text("null.port.error").toStdString());
    const std::string name = portName.toStdString();
    Direduva::SerialPortLocal::addPortName(name);
    Direduva::SerialConfig sc(name);
    sc.setBitRate(config.getBitRate());
    sc.setDataBits(config.getDataBits());
    sc.setParity(config.getParity());
    sc.setStopBits(config.getStopBits());
    sc.setHandshake(config.getHandshake());
    return std::make_unique<Direduva::SerialPortLocal>(sc);
}

WeightWorker::WeightWorker(const config::Config& config, WeightWorkerView* view, QObject* parent)
    : WeightWorker(config, view, openPort(config), parent) {}

WeightWorker::WeightWorker(const config::Config& config, WeightWorkerView* view,
                           std::unique_ptr<Direduva::SerialPortLocal> opened, QObject* parent)
    : QObject(parent), view_(view), config_(config), generator_(std::random_device{}()),
      assembler_(config.getInputTerminator()) {
    const QString portName = config.getPort();
    if (!opened)
        throw std::logic_error(text("null.port.error").toStdString());
    sp_ = std::move(opened);

    view_->setConnectedInGUI(true);
    sp_->rxFlush();
    view_->logEvent(util::MessageFormat::format(text("port.opened"), portName,
                                                ConfigHelper::BitRates::getReadable(config.getBitRate()),
                                                ConfigHelper::DataBits::getReadable(config.getDataBits()),
                                                ConfigHelper::StopBits::getReadable(config.getStopBits()),
                                                ConfigHelper::Parity::getReadable(config.getParity())));

    // Ports without modem lines (a pty, some adapters) refuse these calls; the data still flows, so the
    // connection goes on and the log says the lines are not available.
    const bool hardware = config.getHandshake() == ConfigHelper::Handshake::CTS_RTS.ordinal();
    auto line = [](auto&& query) -> QString {
        try {
            return text(query() ? "line.on" : "line.off");
        } catch (const std::exception&) {
            return text("line.na");
        }
    };
    try {
        if (!hardware)
            sp_->setRTS(false);
        sp_->setDTR(true);
    } catch (const std::exception& e) {
        view_->logEvent(
            util::MessageFormat::format(text("modem.lines.unavailable.0.1"), portName, fromStd(e)));
    }
    view_->logEvent(util::MessageFormat::format(
        text("modem.lines.0.1.2"), hardware ? QStringLiteral("CTS-RTS") : text("line.off"),
        line([this] { return sp_->sigDSR(); }), line([this] { return sp_->sigCTS(); })));
}

WeightWorker::~WeightWorker() {
    cancel();
    if (thread_.joinable())
        thread_.join();
    if (sp_ && sp_->isOpen()) {
        try {
            sp_->close();
        } catch (const std::exception&) {
        }
    }
}

void WeightWorker::execute() {
    if (started_.exchange(true))
        return;
    thread_ = std::thread([this] { doInBackground(); });
}

void WeightWorker::cancel() {
    cancelled_ = true;
    if (sp_)
        sp_->wakeWait();
}

bool WeightWorker::pause(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return !cancelled_;
}

LinePipeline::Mode WeightWorker::mode() const {
    return LinePipeline::Mode::Number;
}

void WeightWorker::reportParityError() {
    view_->logImportantEvent(text("parity.error"));
}
void WeightWorker::reportFramingError() {
    view_->logImportantEvent(text("framing.error"));
}

void WeightWorker::doInBackground() {
    std::optional<LinePipeline> pipeline;
    try {
        pipeline.emplace(config_, mode());
    } catch (const std::exception& e) {
        failure_ = fromStd(e);
    }
    std::uniform_int_distribution<int> idle(0, 4);
    int readFailures = 0;
    while (pipeline && !cancelled_) {
        int byte = -1;
        try {
            byte = sp_->getByte();
            readFailures = 0;
        } catch (const Direduva::PortHangupError& e) {
            hangup_ = fromStd(e);
            break;
        } catch (const std::exception& e) {
            // Reported once per run of failures, not once per attempt.
            if (readFailures++ == 0)
                view_->logImportantEvent(QStringLiteral("Error [WW]: ") + fromStd(e));
            if (readFailures >= maxConsecutiveReadFailures) {
                failure_ = QStringLiteral("reading the port failed %1 times in a row: %2")
                               .arg(readFailures)
                               .arg(fromStd(e));
                break;
            }
            pause(idle(generator_) + 1);
            continue;
        }
        if (byte < 0) {
            // Nothing waiting: sleep in the driver until bytes arrive; cancel() ends the wait at once.
            try {
                sp_->waitRx(idleWaitMs);
            } catch (const Direduva::PortHangupError& e) {
                hangup_ = fromStd(e);
                break;
            } catch (const std::exception&) {
                pause(idle(generator_) + 1); // the next read reports what is wrong
            }
            continue;
        }

        const LineAssembler::Step step = assembler_.add(quint8(byte));
        try {
            if (sp_->sigParityErr()) {
                reportParityError();
                assembler_.markError();
            }
            if (sp_->sigFrameErr()) {
                reportFramingError();
                assembler_.markError();
            }
        } catch (const std::exception&) {
            // The port cannot report line errors: nothing to mark.
        }

        switch (step) {
        case LineAssembler::Step::Pending:
        case LineAssembler::Step::Dropped:
            break;
        case LineAssembler::Step::Overflow:
            view_->logImportantEvent(
                QStringLiteral("Error [WW]: a line grew past %1 bytes without the input terminator (code %2) "
                               "and was dropped up to the next terminator; check the input terminator "
                               "setting.")
                    .arg(assembler_.maxLineLength())
                    .arg(assembler_.terminator()));
            // The line still gets its record (and its data-log row): cut, marked, without a value.
            publish(pipeline->cutOff(assembler_.overflowedHead(), assembler_.maxLineLength(),
                                     assembler_.lineHasError()));
            break;
        case LineAssembler::Step::Complete:
            try {
                publish(pipeline->process(assembler_.line(), assembler_.lineHasError()));
            } catch (const std::exception& e) {
                view_->logImportantEvent(QStringLiteral("Error [WW]: ") + fromStd(e));
            }
            // A line that failed is not kept: the next line starts empty.
            assembler_.clear();
            lines_ = pipeline->count();
            break;
        }
    }
    util::postQueued(this, [this] { done(); });
}

void WeightWorker::publish(DataLine line) {
    std::lock_guard lock(pendingMutex_);
    pending_.push_back(std::move(line));
    if (!processScheduled_) {
        processScheduled_ = true;
        util::postQueued(this, [this] { process(); });
    }
}

void WeightWorker::process() {
    std::vector<DataLine> batch;
    {
        std::lock_guard lock(pendingMutex_);
        batch.swap(pending_);
        processScheduled_ = false;
    }
    for (const DataLine& line : batch)
        view_->update(line);
}

void WeightWorker::done() {
    if (thread_.joinable())
        thread_.join();
    process(); // anything still pending goes first
    if (failure_)
        view_->logImportantEvent(text("execution.exception") + *failure_);
    else if (hangup_ && !hangupByOwner_)
        view_->logImportantEvent(
            util::MessageFormat::format(text("port.gone.closed.0.1"), config_.getPort(), *hangup_));
    else if (cancelled_)
        view_->logEvent(text("stopped"));
    // What follows the last terminator of a CR LF instrument (its LF) is no unsent data.
    static const QRegularExpression lineBreaksOnly(QStringLiteral("\\A[\\r\\n]*\\z"));
    if (assembler_.hasPending() && !lineBreaksOnly.match(assembler_.pending()).hasMatch())
        view_->logImportantEvent(text("unsent.data") + u' ' +
                                 DataLine::transformControlChars(assembler_.pending()));
    try {
        sp_->close();
    } catch (const std::exception& e) {
        view_->logImportantEvent(QStringLiteral("Error [WW]: ") + fromStd(e));
    }
    view_->setConnectedInGUI(false);
    done_ = true;
    emit finished(lines_);
}

void WeightWorkerBarcode::reportParityError() {
    view_->logImportantEvent(text("barcode.parity.error"));
}
void WeightWorkerBarcode::reportFramingError() {
    view_->logImportantEvent(text("barcode.framing.error"));
}

WeightWorkerAnd::DeviceState WeightWorkerAnd::testDevice() {
    if (sp_->getHandshake() == ConfigHelper::Handshake::CTS_RTS.ordinal())
        return DeviceState::Skipped; // the driver owns RTS
    bool dsr = false;
    bool cts = false;
    try {
        sp_->setDTR(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        dsr = sp_->sigDSR();
        sp_->setRTS(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        cts = sp_->sigCTS();
    } catch (const std::exception& e) {
        view_->logImportantEvent(QStringLiteral("Error [WW]: the hand-shake lines cannot be checked: ") +
                                 QString::fromUtf8(e.what()));
        return DeviceState::Skipped;
    }
    DeviceState state = DeviceState::Ready;
    const char* key = nullptr;
    if (dsr && !cts) {
        state = DeviceState::Unusual;
        key = "and.error.unusual";
    } else if (!dsr && cts) {
        state = DeviceState::DataSetNotReady;
        key = "and.error.dataset.not.ready";
    } else if (!dsr && !cts) {
        state = DeviceState::NotConnected;
        key = "and.error.not.connected";
    }
    if (key)
        view_->showWarning(text("warning"), text(key));
    return state;
}

std::unique_ptr<WeightWorker> createWorker(const config::Config& config, WeightWorkerView* view,
                                           std::unique_ptr<Direduva::SerialPortLocal> opened,
                                           QObject* parent) {
    if (!opened)
        opened = WeightWorker::openPort(config);
    const auto instrument = config.getInstrument().value_or(ConfigHelper::Instrument::GENERIC);
    if (instrument.getInstrumentType() != ConfigHelper::InstrumentType::NUMBER)
        return std::make_unique<WeightWorkerBarcode>(config, view, std::move(opened), parent);
    if (instrument == ConfigHelper::Instrument::AND || instrument == ConfigHelper::Instrument::AND_EM) {
        auto worker = std::make_unique<WeightWorkerAnd>(config, view, std::move(opened), parent);
        worker->testDevice();
        return worker;
    }
    return std::make_unique<WeightWorker>(config, view, std::move(opened), parent);
}

std::unique_ptr<WeightWorker> createWorker(const config::Config& config, WeightWorkerView* view,
                                           QObject* parent) {
    return createWorker(config, view, nullptr, parent);
}

} // namespace vornal::worker
