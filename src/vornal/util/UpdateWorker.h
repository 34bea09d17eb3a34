#pragma once

#include "vornal/util/ReadRemoteUpdate.h"
#include "vornal/util/ResourceBundle.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vornal::util {

// Where the update check shows its texts: the main window's status label.
class UpdateWorkerView {
public:
    virtual ~UpdateWorkerView() = default;
    // Called on the thread that created the worker. A text may be HTML (a link to the download page).
    virtual void setText(const QString& text) = 0;
};

// The background check for a newer version. execute() shows "checking.for.update", fetches the version
// document on a background thread (ReadRemoteUpdate) and, back on the creating thread, shows
// "update.available" (arguments: {0} the remote version, {1} the running version, {2} the download
// page, i.e. the server's address), the normal status text, or "update.check.failed" ({0}: the reason).
// Nothing is ever stored and no dialog is shown.
class UpdateWorker : public QObject {
    Q_OBJECT
public:
    // A number from 0 to bound - 1.
    using RandomSource = std::function<int(int bound)>;
    // One start in CHANCE checks (when the setting allows it).
    static constexpr int CHANCE = 4;

    UpdateWorker(UpdateWorkerView* view, const QString& remoteUrl, const QString& currentVersion,
                 const QString& language, QObject* parent = nullptr);
    // Stops a running fetch and waits for its thread (the fetch ends within a fraction of a second).
    ~UpdateWorker() override;

    // Extra trusted certificates and time-outs (tests); before execute().
    void setFetchOptions(const FetchOptions& options);
    // Starts the check (once).
    void execute();
    // Ends the fetch early; nothing more is shown. Safe from any thread.
    void cancel();
    bool isDone() const { return done_; }
    // After the end: the document read (none when the fetch failed) and why it failed.
    std::optional<ReadRemoteUpdate> update() const;
    QString failure() const;

    // VORNAL_UPDATE_URL when set and not empty, otherwise "https://" + the server chosen when the program
    // was built (CMake cache variable VORNAL_UPDATE_HOST) + "/version.xml".
    static QString defaultRemoteUrl();
    // The download page named in "update.available": the scheme and host of `remoteUrl`, with "/".
    static QString downloadPage(const QString& remoteUrl);

    // Whether this start checks: only with the setting on, and then when a draw from 0 to CHANCE - 1 gives
    // 0 (the default source is the system's random generator).
    static bool isCheckDue(bool checkForUpdates, const RandomSource& random = {});
    // The window's start-up step: when due and no check was started before in this process, a started
    // worker for defaultRemoteUrl(); otherwise null.
    static std::unique_ptr<UpdateWorker> startAtLaunch(UpdateWorkerView* view, bool checkForUpdates,
                                                       const QString& currentVersion, const QString& language,
                                                       const RandomSource& random = {},
                                                       QObject* parent = nullptr);

    // The bundle "vornal.Vornal".
    static const ResourceBundle& resourceBundle();

signals:
    // After the result has been shown.
    void finished();

private:
    void done();

    UpdateWorkerView* view_;
    const QString remoteUrl_;
    const QString currentVersion_;
    const QString language_;
    FetchOptions options_;
    std::thread thread_;
    bool started_ = false;
    std::atomic<bool> done_{false};
    std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);

    // Written by the background thread, read after it has ended (the lock makes that order visible to
    // thread checkers, which cannot see into QThread::wait).
    mutable std::mutex resultMutex_;
    std::optional<ReadRemoteUpdate> update_;
    QString failure_;
};

} // namespace vornal::util
