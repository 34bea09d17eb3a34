#include "vornal/util/UpdateWorker.h"

#include "vornal/util/MessageFormat.h"

#include <QMetaObject>
#include <QRandomGenerator>
#include <QThread>
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
    if (thread_)
        thread_->wait();
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
    thread_.reset(QThread::create([this, options] {
        try {
            update_.emplace(remoteUrl_, currentVersion_, language_, options);
        } catch (const std::exception& e) {
            failure_ = QString::fromUtf8(e.what());
        }
    }));
    connect(thread_.get(), &QThread::finished, this, &UpdateWorker::done, Qt::QueuedConnection);
    thread_->start();
}

void UpdateWorker::cancel() {
    cancel_->store(true);
}

void UpdateWorker::done() {
    thread_->wait();
    if (cancel_->load() && !update_) {
        done_ = true;
        emit finished();
        return;
    }
    const ResourceBundle& bundle = resourceBundle();
    if (!update_) {
        view_->setText(
            MessageFormat::format(bundle.getString(QStringLiteral("update.check.failed")), failure_));
    } else if (update_->newerVersionAvailable()) {
        view_->setText(MessageFormat::format(bundle.getString(QStringLiteral("update.available")),
                                             update_->getRemoteVersion().trimmed(), currentVersion_,
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
