#include "vornal/worker/DataLog.h"

#include "vornal/util/MessageFormat.h"
#include "vornal/util/RegularFile.h"
#include "vornal/util/ResourceBundle.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace vornal::worker {

namespace {

QString workerText(const char* key) {
    return util::ResourceBundle::get(QStringLiteral("vornal.worker.WorkerBundle"))
        .getString(QLatin1String(key));
}

// True for a text a spreadsheet would take for a formula: one beginning with "=" or "@", or with "+" or
// "-" when it is not simply a signed number (a barcode "=HYPERLINK(...)", a line "-2+3").
bool looksLikeFormula(const QString& text) {
    if (text.startsWith(u'=') || text.startsWith(u'@'))
        return true;
    if (!text.startsWith(u'+') && !text.startsWith(u'-'))
        return false;
    bool number = false;
    QString(text).replace(u',', u'.').toDouble(&number);
    return !number;
}

// A value as numeric instruments type it: an optional sign, then digits with decimal and thousands
// separators ("+1,234,5", "-0.5", ".5"). A spreadsheet never runs such a text as a formula.
bool plainNumber(const QString& text) {
    qsizetype i = text.startsWith(u'+') || text.startsWith(u'-') ? 1 : 0;
    bool digit = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9')
            digit = true;
        else if (c != u'.' && c != u',')
            return false;
    }
    return digit;
}

// A field as CSV: quoted when it holds a separator, a quote, a line break or leading/trailing blanks;
// quotes doubled. With `guard`, a text that a spreadsheet would run as a formula gets a leading apostrophe.
QByteArray field(const QString& raw, bool guard = true) {
    const QString text = guard && looksLikeFormula(raw) ? u'\'' + raw : raw;
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\n') ||
                       text.contains(u'\r') || text.startsWith(u' ') || text.endsWith(u' ');
    QByteArray bytes = text.toUtf8();
    if (!quote)
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

constexpr char kBom[] = "\xEF\xBB\xBF";

// The size of `file` up to the end of its last whole row (its last line break): what is left after a
// write that was cut off (a crash in the middle of a row, an older version). 0 when no row is whole.
qint64 wholeRowsEnd(QFile& file, qint64 size) {
    constexpr qint64 chunk = 64 * 1024;
    qint64 end = size;
    while (end > 0) {
        const qint64 from = std::max<qint64>(0, end - chunk);
        if (!file.seek(from))
            return size; // cannot tell: leave it as it is
        const QByteArray bytes = file.read(end - from);
        if (bytes.size() != end - from)
            return size;
        const qsizetype newline = bytes.lastIndexOf('\n');
        if (newline >= 0)
            return from + newline + 1;
        end = from;
    }
    return 0;
}

} // namespace

DataLog::DataLog(QString path, qint64 maxBytes, int keep)
    : path_(std::move(path)), maxBytes_(std::max<qint64>(maxBytes, 0)), keep_(std::max(keep, 0)) {}

DataLog::~DataLog() = default;

QByteArray DataLog::headerRow() {
    return QByteArrayLiteral("time,port,instrument,line,value,result,preset\r\n");
}

QString DataLog::isoTime(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QChar(u'0'))
               .arg(minutes % 60, 2, 10, QChar(u'0'));
}

QByteArray DataLog::formatRow(const Row& row) {
    const QString line =
        row.rawLine.size() <= MAX_LINE_FIELD
            ? row.rawLine
            : row.rawLine.left(MAX_LINE_FIELD) +
                  QStringLiteral(" [cut: %1 more characters]").arg(row.rawLine.size() - MAX_LINE_FIELD);
    QByteArray out;
    for (const QString* f : {&row.port, &row.instrument, &line})
        out += ',' + field(*f);
    // The value column holds exactly the typed value when it is a number.
    out += ',' + field(row.value, !plainNumber(row.value));
    out += ',' + field(row.outcome);
    out += ',' + field(row.preset);
    return isoTime(row.time).toLatin1() + out + "\r\n";
}

QString DataLog::rotatedName(const QString& path, int n) {
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString number = QString::number(n);
    if (suffix.isEmpty() || info.completeBaseName().isEmpty())
        return path + u'.' + number;
    return path.left(path.size() - suffix.size()) + number + u'.' + suffix;
}

bool DataLog::open(QString* error) {
    // Read access as well: a file that ends in a cut-off row is cut back to its last whole row.
    auto file = std::make_unique<QFile>(path_);
    if (!util::openRegularFile(*file, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                               error))
        return false;
    const qint64 size = file->size();
    const qint64 whole = size > 0 ? wholeRowsEnd(*file, size) : 0;
    if (whole != size && !file->resize(whole)) {
        *error = QStringLiteral("cannot cut the unfinished last row off: %1").arg(file->errorString());
        return false;
    }
    file_ = std::move(file);
    size_ = whole;
    if (size_ == 0)
        return write(QByteArray(kBom) + headerRow(), error);
    return true;
}

void DataLog::close() {
    file_.reset();
    size_ = 0;
}

bool DataLog::rotate(QString* error) {
    close();
    if (keep_ > 0) {
        QFile::remove(rotatedName(path_, keep_));
        for (int n = keep_ - 1; n >= 1; --n)
            QFile::rename(rotatedName(path_, n), rotatedName(path_, n + 1));
        if (!QFile::rename(path_, rotatedName(path_, 1))) {
            *error = QStringLiteral("cannot rename it to %1").arg(rotatedName(path_, 1));
            return false;
        }
    } else if (!QFile::remove(path_)) {
        *error = QStringLiteral("cannot begin it anew");
        return false;
    }
    return open(error);
}

bool DataLog::write(const QByteArray& bytes, QString* error) {
    // One write of the whole row (the file is unbuffered and appends), so the row is whole or absent.
    // A write that stops part-way (a full disk) is undone: the file is cut back to its last whole row.
#ifdef Q_OS_UNIX
    const int fd = file_->handle();
    qint64 done = 0;
    int failure = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
    }
    if (failure == 0) {
        size_ += done;
        return true;
    }
    *error = util::systemErrorText(failure);
    if (done > 0 && ::ftruncate(fd, size_) != 0)
        *error += QStringLiteral("; the unfinished row could not be removed (%1), it goes when the file is "
                                 "opened again")
                      .arg(util::systemErrorText(errno));
#else
    file_->seek(size_);
    if (file_->write(bytes) == bytes.size()) {
        size_ += bytes.size();
        return true;
    }
    *error = file_->errorString();
    file_->resize(size_);
#endif
    close();
    return false;
}

QString DataLog::append(const Row& row) {
    QByteArray bytes = formatRow(row);
    const bool resuming = failing_;
    if (resuming) {
        // One marker row says what is missing; written with the row, in the same single write.
        Row marker{row.time,
                   row.port,
                   row.instrument,
                   QString(),
                   QString(),
                   QStringLiteral("%1 row(s) not written from %2 to %3: %4")
                       .arg(missed_)
                       .arg(isoTime(missedFrom_), isoTime(missedTo_), missedReason_),
                   row.preset};
        bytes = formatRow(marker) + bytes;
    }
    QString error;
    bool ok = file_ || open(&error);
    // A file that holds more than its header and would pass the limit with this row is rotated first.
    const qint64 headerSize = qint64(sizeof kBom - 1) + headerRow().size();
    if (ok && maxBytes_ > 0 && size_ > headerSize && size_ + bytes.size() > maxBytes_)
        ok = rotate(&error);
    ok = ok && write(bytes, &error);
    if (ok) {
        failing_ = false;
        if (!resuming)
            return QString();
        const QString message = util::MessageFormat::format(
            workerText("data.log.written.again.0.1.2.3.4"), QDir::toNativeSeparators(path_), missed_,
            isoTime(missedFrom_), isoTime(missedTo_), missedReason_);
        missed_ = 0;
        return message;
    }
    if (!failing_) {
        missedFrom_ = row.time;
        missedReason_ = error;
    }
    ++missed_;
    missedTo_ = row.time;
    if (failing_)
        return QString();
    failing_ = true;
    return util::MessageFormat::format(workerText("data.log.failing.0.1"), QDir::toNativeSeparators(path_),
                                       error);
}

} // namespace vornal::worker
