#include "vornal/publish/DiskQueue.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace vornal::publish {

namespace {
QString fileError(const QString& path, const QString& why) {
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
}
// Acknowledged lines kept at the front before the file is rewritten without them.
constexpr qint64 COMPACT_BYTES = 1024 * 1024;
} // namespace

DiskQueue::DiskQueue(QString path, qint64 maxBytes, quint64 firstId)
    : path_(std::move(path)), maxBytes_(maxBytes), firstId_(std::max<quint64>(firstId, 1)) {}

DiskQueue::~DiskQueue() = default;

bool DiskQueue::open(QString* error) {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    ackFile_ = std::make_unique<QFile>(path_ + QStringLiteral(".acked"));
    if (!ackFile_->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = fileError(ackFile_->fileName(), ackFile_->errorString());
        return false;
    }
    acked_ = ackFile_->readAll().trimmed().toULongLong();
    QFile in(path_);
    QByteArray data;
    if (in.exists()) {
        if (!in.open(QIODevice::ReadOnly)) {
            *error = fileError(path_, in.errorString());
            return false;
        }
        data = in.readAll();
        in.close();
    }
    // A line cut off at its end (the machine went down during the append) is dropped.
    const qsizetype end = data.lastIndexOf('\n') + 1;
    quint64 lastId = acked_;
    qsizetype pos = 0;
    while (pos < end) {
        const qsizetype nl = data.indexOf('\n', pos);
        const QByteArray line = data.mid(pos, nl - pos);
        pos = nl + 1;
        const qsizetype t1 = line.indexOf('\t');
        const qsizetype t2 = t1 < 0 ? -1 : line.indexOf('\t', t1 + 1);
        bool ok = false;
        const quint64 id = t2 < 0 ? 0 : line.left(t1).toULongLong(&ok);
        if (!ok || id == 0)
            continue; // not a line of this queue
        lastId = std::max(lastId, id);
        if (id <= acked_)
            continue;
        Message m{id, line.mid(t1 + 1, t2 - t1 - 1), line.mid(t2 + 1)};
        pendingBytes_ += m.bytes();
        pending_.push_back(std::move(m));
    }
    nextId_ = lastId == 0 ? firstId_ : lastId + 1;
    file_ = std::make_unique<QFile>(path_);
    if (!file_->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = fileError(path_, file_->errorString());
        return false;
    }
    if (end != data.size() && !file_->resize(end)) {
        *error = fileError(path_, file_->errorString());
        return false;
    }
    fileBytes_ = end;
    file_->seek(fileBytes_);
    return pending_.empty() ? compact(error) : true;
}

DiskQueue::Added DiskQueue::add(const QByteArray& topic, const QByteArray& payload, quint64* id,
                                QString* error) {
    Message m{nextId_, topic, payload};
    if (pendingBytes_ + m.bytes() > maxBytes_)
        return Added::Full;
    const QByteArray line = QByteArray::number(m.id) + '\t' + topic + '\t' + payload + '\n';
    const qint64 written = file_->write(line);
    if (written != line.size()) {
        *error = fileError(path_, file_->errorString());
        // A part written is cut away again, so that the next append starts a whole line.
        if (file_->resize(fileBytes_))
            file_->seek(fileBytes_);
        return Added::Failed;
    }
    fileBytes_ += written;
    ++nextId_;
    *id = m.id;
    pendingBytes_ += m.bytes();
    pending_.push_back(std::move(m));
    return Added::Queued;
}

bool DiskQueue::acknowledge(quint64 id, QString* error) {
    if (id <= acked_)
        return true;
    while (!pending_.empty() && pending_.front().id <= id) {
        pendingBytes_ -= pending_.front().bytes();
        pending_.pop_front();
    }
    acked_ = id;
    if (!writeAcked(error))
        return false;
    // The front is cut once it is large and larger than the rest, so that each byte is rewritten only a
    // few times however long the queue.
    const qint64 front = fileBytes_ - pendingBytes_;
    if (pending_.empty() || (front > COMPACT_BYTES && front > pendingBytes_))
        return compact(error);
    return true;
}

bool DiskQueue::writeAcked(QString* error) {
    // One write of a fixed width at the start: a killed process leaves the old or the new number.
    const QByteArray text = QByteArray::number(acked_).rightJustified(20, '0') + '\n';
    if (!ackFile_->seek(0) || ackFile_->write(text) != text.size()) {
        *error = fileError(ackFile_->fileName(), ackFile_->errorString());
        return false;
    }
    return true;
}

bool DiskQueue::compact(QString* error) {
    if (fileBytes_ == 0)
        return true;
    if (pending_.empty()) {
        // Everything acknowledged (the id is on record): the file begins anew.
        if (!file_->resize(0)) {
            *error = fileError(path_, file_->errorString());
            return false;
        }
        file_->seek(0);
        fileBytes_ = 0;
        return true;
    }
    // The acknowledged front is only worth cutting once it is large; the rest is written anew, at once.
    // The ids on record make a half-done rewrite harmless: acknowledged lines are skipped when read.
    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = fileError(path_, out.errorString());
        return false;
    }
    qint64 bytes = 0;
    for (const Message& m : pending_) {
        const QByteArray line = QByteArray::number(m.id) + '\t' + m.topic + '\t' + m.payload + '\n';
        out.write(line);
        bytes += line.size();
    }
    if (!out.commit()) {
        *error = fileError(path_, out.errorString());
        return false;
    }
    file_ = std::make_unique<QFile>(path_);
    if (!file_->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = fileError(path_, file_->errorString());
        return false;
    }
    fileBytes_ = bytes;
    file_->seek(fileBytes_);
    return true;
}

} // namespace vornal::publish
