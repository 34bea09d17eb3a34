#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>

namespace vornal::worker {

// One received line of a connection: the raw text, the value to type, its number, when it ended and
// whether the port signalled a parity or framing error while it arrived. Unchanged after creation except
// by deleteProcessedData() (duplicate suppression).
class DataLine {
public:
    // UTC, nanosecond resolution.
    using Instant = std::chrono::sys_time<std::chrono::nanoseconds>;

    DataLine() = default;
    // `rawData`: the line exactly as received, terminator included, one character per byte (0-255).
    DataLine(QString rawData, QString processedData, qint32 count, Instant instant, bool error)
        : rawData_(std::move(rawData)), processedData_(std::move(processedData)), count_(count),
          instant_(instant), error_(error) {}

    // One character per byte, each with the byte's value.
    static QString textOfBytes(const QByteArray& bytes) { return QString::fromLatin1(bytes); }
    static Instant now() {
        return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
    }

    // The raw line with control and non-ASCII characters shown as "<code>".
    QString getRawData() const { return transformControlChars(rawData_); }
    // The raw line as received.
    const QString& rawData() const { return rawData_; }
    const QString& getProcessedData() const { return processedData_; }
    qint32 getCount() const { return count_; }
    Instant getInstant() const { return instant_; }
    bool isError() const { return error_; }
    // The instant as a local date-time of the system time zone (millisecond resolution).
    QDateTime getDateTime() const;
    bool hasValue() const { return !processedData_.isEmpty(); }
    DataLine copy() const { return *this; }
    void deleteProcessedData() { processedData_.clear(); }

    // Every character outside 0x20-0x7E becomes "<" + its decimal code + ">": CR gives "<13>", byte 0xB0
    // gives "<176>". A pair of surrogates counts as one character with its full code.
    static QString transformControlChars(QStringView text);

private:
    QString rawData_;
    QString processedData_;
    qint32 count_ = 0;
    Instant instant_{};
    bool error_ = false;
};

} // namespace vornal::worker
