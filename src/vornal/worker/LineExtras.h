#pragma once

#include "vornal/config/Config.h"
#include "vornal/worker/StabilityFilter.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace vornal::platform {
class GlobalHotkey;
} // namespace vornal::platform

namespace vornal::worker {

class DataLine;
class DataLog;
class RequestSender;

// What a connection does for each line besides typing it, as its settings ask: the stable-reading
// filter, the data log (one row per line, written in line order once the typing result of its value is
// known), and the requests for a reading (the command written on request(), by the timer, through the
// local socket of `vornal-cli request`, and by the global hotkey). Lives on the connection's thread.
class LineExtras : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Take requests of `vornal-cli request` through the local socket.
        bool requestServer = true;
        // Grab the settings' request hotkey.
        bool hotkey = true;
        // Tests: the global-shortcut backend (null: the desktop's, through createGlobalHotkey).
        std::function<std::unique_ptr<platform::GlobalHotkey>(std::string* why)> hotkeyBackend;
        // The profile the connection runs (empty: none): the data log's instrument column, the request
        // socket.
        QString profileName;
    };
    // Writes the request command to the port; throws std::exception when it cannot.
    using Write = std::function<void(const QByteArray&)>;

    explicit LineExtras(QObject* parent = nullptr);
    ~LineExtras() override;

    // Starts what the settings ask for (the events say what), on the port `config` names.
    void start(const config::Config& config, const Options& options, Write write);
    // Ends the filter, the requests and the hotkey. The data log closes too, unless `keepLog`: then it
    // stays open for the rows still waiting (a value being finished after the end), until closeLog().
    void stop(bool keepLog = false);
    void closeLog();

    // The stable-reading filter's verdict on a line, whose processed value it empties when it holds the
    // line back; Pass without a filter (and NoValue for a line without a value).
    StabilityFilter::Verdict judge(DataLine& line);

    // The data log of this connection is open (new rows are taken).
    bool logging() const { return dataLog_ != nullptr; }
    // A row for `received` with its result; id != 0 (the value's typing id): the row waits for
    // settle(id) and so do the rows behind it, to keep the line order.
    void addRow(quint64 id, const DataLine& received, const QString& result);
    // The typing result of the value `id`.
    void settle(quint64 id, const QString& result);
    // Every row still waiting gets `result` (its value can no longer be typed).
    void settleAll(const QString& result);
    // Rows still waiting for a result.
    bool rowsWaiting() const;
    // Drops the rows (a new connection).
    void clearRows() { rows_.clear(); }
    // The port the rows name from now on (the device came back under another name).
    void setPort(const QString& port) { config_.setPort(port); }

    // A request command can be sent (started, with a command).
    bool canRequest() const;
    // Writes the request command (the event log says whether it went); false when it did not.
    bool request();

signals:
    void logEvent(const QString& text, bool important);
    // The data log could not be written (`path`), or can be again (`failing` false).
    void dataLogFailing(bool failing, const QString& path);
    // The request command was written to the port.
    void requestSent();
    // The request hotkey was pressed (delivered on this thread).
    void hotkeyPressed();

private:
    void grabHotkey();
    // Writes the rows whose result is known, in line order, up to the first still waiting.
    void writeRows();

    config::Config config_;
    Options options_;
    std::unique_ptr<StabilityFilter> stability_;
    std::unique_ptr<DataLog> dataLog_;
    // The data log kept open by stop(true) for the rows still waiting.
    std::unique_ptr<DataLog> keptLog_;
    struct PendingRow {
        quint64 id = 0; // the value's typing id, 0 once the result is known
        QDateTime time;
        QString raw, value, result;
    };
    std::deque<PendingRow> rows_;
    std::unique_ptr<RequestSender> requester_;
    std::unique_ptr<platform::GlobalHotkey> hotkey_;
};

} // namespace vornal::worker
