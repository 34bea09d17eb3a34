#pragma once

#include "vornal/worker/DataLine.h"

#include <QString>

namespace vornal::worker {

// How the reading workers talk to whoever shows a connection: the main window, or vornal-cli.
class WeightWorkerView {
public:
    virtual ~WeightWorkerView() = default;

    // One ordinary event-log line. Called from any thread.
    virtual void logEvent(const QString& text) = 0;
    // One highlighted event-log line. Called from any thread.
    virtual void logImportantEvent(const QString& text) = 0;
    // Switches between the connected and the idle look. Called from any thread.
    virtual void setConnectedInGUI(bool connected) = 0;
    // One processed line, on the thread that created the worker, in the order the lines arrived.
    virtual void update(const DataLine& line) = 0;
    // A warning the user must acknowledge (the window shows a modal dialog). Called on the thread that
    // created the worker. Without a way to ask, it is an important log line.
    virtual void showWarning(const QString& title, const QString& message) {
        logImportantEvent(title + QStringLiteral(": ") + message);
    }
};

} // namespace vornal::worker
