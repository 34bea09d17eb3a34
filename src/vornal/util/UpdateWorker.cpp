#include "vornal/util/UpdateWorker.h"

#include "vornal/util/MessageFormat.h"
#include "vornal/util/Queued.h"

#include <QRandomGenerator>
#include <QUrl>

// The server that serves "/version.xml"; chosen when the program is built.
#ifndef VORNAL_UPDATE_HOST
#define VORNAL_UPDATE_HOST "www.halvorn.example"
#endif

namespace vornal::util {

namespace {
std::atomic<bool> launchCheckStarted{false};
}

const ResourceBundle& UpdateWorker::resourceBundle() {
    return ResourceBundle::get(QStringLiteral("vornal.Vornal"));
}

UpdateWorker::UpdateWorker(UpdateWorkerView* view, const QString& remoteUrl, const QString& currentVersion,
                           const QString& language, QObject* parent)
    : QObject(parent), view_(view), remoteUrl_(remoteUrl), currentVersion_(currentVersion),
      language_(language) {}

UpdateWorker::~UpdateWorker() {
    cancel();
    if (thread_.joinable())
        thread_.join();
}

void UpdateWorker::setFetchOptions(const FetchOptions& options) {
    options_ = options;
}

void UpdateWorker::execute() {
    if (started_)
        return;
    started_ = true;
    view_->setText(resourceBundle().getString(QStringLiteral("checking.for.update")));
    FetchOptions options = options_;
    options.cancel = cancel_;
    thread_ = std::thread([this, options] {
        try {
            ReadRemoteUpdate fetched(remoteUrl_, currentVersion_, language_, options);
            std::lock_guard lock(resultMutex_);
            update_.emplace(std::move(fetched));
        } catch (const std::exception& e) {
            std::lock_guard lock(resultMutex_);
            failure_ = QString::fromUtf8(e.what());
        }
        // Dropped when the worker is destroyed first.
        postQueued(this, [this] { done(); });
    });
}

void UpdateWorker::cancel() {
    cancel_->store(true);
}

std::optional<ReadRemoteUpdate> UpdateWorker::update() const {
    std::lock_guard lock(resultMutex_);
    return update_;
}

QString UpdateWorker::failure() const {
    std::lock_guard lock(resultMutex_);
    return failure_;
}

void UpdateWorker::done() {
    if (thread_.joinable())
        thread_.join();
    const std::optional<ReadRemoteUpdate> result = update();
    const QString why = failure();
    if (cancel_->load() && !result) {
        done_ = true;
        emit finished();
        return;
    }
    const ResourceBundle& bundle = resourceBundle();
    if (!result) {
        view_->setText(MessageFormat::format(bundle.getString(QStringLiteral("update.check.failed")), why));
    } else if (result->newerVersionAvailable()) {
        view_->setText(MessageFormat::format(bundle.getString(QStringLiteral("update.available")),
                                             result->getRemoteVersion().trimmed(), currentVersion_,
                                             downloadPage(remoteUrl_)));
    } else {
        view_->setText(bundle.getString(QStringLiteral("VororaZeZovFrame2.statusJLabel.text")));
    }
    done_ = true;
    emit finished();
}

QString UpdateWorker::defaultRemoteUrl() {
    const QString fromEnvironment = qEnvironmentVariable("VORNAL_UPDATE_URL");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStringLiteral("https://") + QStringLiteral(VORNAL_UPDATE_HOST) + QStringLiteral("/version.xml");
}

QString UpdateWorker::downloadPage(const QString& remoteUrl) {
    const QUrl url(remoteUrl);
    return url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
               .toString() +
           u'/';
}

bool UpdateWorker::isCheckDue(bool checkForUpdates, const RandomSource& random) {
    if (!checkForUpdates)
        return false;
    const int draw = random ? random(CHANCE) : int(QRandomGenerator::global()->bounded(CHANCE));
    return draw == 0;
}

std::unique_ptr<UpdateWorker> UpdateWorker::startAtLaunch(UpdateWorkerView* view, bool checkForUpdates,
                                                          const QString& currentVersion,
                                                          const QString& language, const RandomSource& random,
                                                          QObject* parent) {
    if (!isCheckDue(checkForUpdates, random) || launchCheckStarted.exchange(true))
        return nullptr;
    auto worker = std::make_unique<UpdateWorker>(view, defaultRemoteUrl(), currentVersion, language, parent);
    worker->execute();
    return worker;
}

} // namespace vornal::util
