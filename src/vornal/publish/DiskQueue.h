#pragma once

#include <QFile>
#include <QString>

#include <deque>
#include <memory>

namespace vornal::publish {

// The messages a station has not yet handed to the broker, kept on disk so that a crash, a SIGKILL or a
// broker that is down for hours loses none. One file of lines "ID<TAB>TOPIC<TAB>PAYLOAD\n" (the payload
// is compact JSON, which holds no raw tab or line break), written with one append per message and no
// buffering (a killed process leaves every appended message whole; a line cut off by a power failure is
// dropped when the file is opened), and beside it "FILE.acked": the id of the last message the broker
// acknowledged. A message leaves the queue only once acknowledged; the acknowledged lines at the front
// are cut away from time to time (the file rewritten atomically).
//
// Message ids grow by one per message and go on after a restart: from the larger of the last id in the
// file and the acknowledged id (a queue without a past begins at `firstId`). Not thread-safe: the owner
// locks.
class DiskQueue {
public:
    struct Message {
        quint64 id = 0;
        QByteArray topic, payload;
        qint64 bytes() const { return topic.size() + payload.size() + 22; }
    };

    // `maxBytes`: the most the unacknowledged messages may take; new ones are refused beyond.
    // `firstId`: the id of the first message of a queue without a past (no file, no acknowledged id).
    DiskQueue(QString path, qint64 maxBytes, quint64 firstId = 1);
    ~DiskQueue();
    DiskQueue(const DiskQueue&) = delete;
    DiskQueue& operator=(const DiskQueue&) = delete;

    // Reads what a previous run left. False with the reason when the file cannot be read or written.
    bool open(QString* error);

    enum class Added { Queued, Full, Failed };
    // Appends a message with the next id (`*id`). Full: over the size limit, nothing written. Failed:
    // the file could not be written (`*error`), nothing queued.
    Added add(const QByteArray& topic, const QByteArray& payload, quint64* id, QString* error);
    // The broker acknowledged `id`: it and every earlier message leave the queue. False with the reason
    // when the acknowledgement could not be recorded (the messages are then sent again after a restart).
    bool acknowledge(quint64 id, QString* error);

    // The messages not yet acknowledged, oldest first.
    const std::deque<Message>& pending() const { return pending_; }
    qint64 pendingBytes() const { return pendingBytes_; }
    qint64 maxBytes() const { return maxBytes_; }
    quint64 lastAcknowledged() const { return acked_; }
    // The id the next message gets.
    quint64 nextId() const { return nextId_; }
    const QString& path() const { return path_; }

private:
    bool compact(QString* error);
    bool writeAcked(QString* error);

    QString path_;
    qint64 maxBytes_;
    std::unique_ptr<QFile> file_;
    std::unique_ptr<QFile> ackFile_;
    std::deque<Message> pending_;
    qint64 pendingBytes_ = 0;
    qint64 fileBytes_ = 0; // of the queue file, acknowledged lines included
    quint64 firstId_;
    quint64 nextId_ = 1;
    quint64 acked_ = 0;
};

} // namespace vornal::publish
