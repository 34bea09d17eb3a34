#include "vornal/worker/DataLog.h"

#include <QDir>
#include <QFileInfo>

namespace vornal::worker {

namespace {

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

// A field as CSV: quoted when it holds a separator, a quote, a line break or leading/trailing blanks;
// quotes doubled. A text that a spreadsheet would run as a formula gets a leading apostrophe.
QByteArray field(const QString& raw) {
    const QString text = looksLikeFormula(raw) ? u'\'' + raw : raw;
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\n') ||
                       text.contains(u'\r') || text.startsWith(u' ') || text.endsWith(u' ');
    QByteArray bytes = text.toUtf8();
    if (!quote)
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

constexpr char kBom[] = "\xEF\xBB\xBF";

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
    QByteArray out;
    for (const QString* f : {&row.port, &row.instrument, &row.rawLine, &row.value, &row.outcome, &row.preset})
        out += ',' + field(*f);
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
    file_ = std::make_unique<QFile>(path_);
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = file_->errorString();
        file_.reset();
        return false;
    }
    if (file_->size() == 0)
        return write(QByteArray(kBom) + headerRow(), error);
    return true;
}

bool DataLog::rotate(QString* error) {
    file_.reset();
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
    if (file_->write(bytes) != bytes.size()) {
        *error = file_->errorString();
        file_.reset();
        return false;
    }
    return true;
}

QString DataLog::append(const Row& row) {
    const QByteArray bytes = formatRow(row);
    QString error;
    bool ok = file_ || open(&error);
    // A file that holds more than its header and would pass the limit with this row is rotated first.
    const qint64 headerSize = qint64(sizeof kBom - 1) + headerRow().size();
    if (ok && maxBytes_ > 0 && file_->size() > headerSize && file_->size() + bytes.size() > maxBytes_)
        ok = rotate(&error);
    ok = ok && write(bytes, &error);
    if (ok) {
        failing_ = false;
        return QString();
    }
    if (failing_)
        return QString();
    failing_ = true;
    return QStringLiteral("The data log %1 cannot be written (%2): readings are not recorded until it can "
                          "be. Values are still typed. Choose a file in a writable folder, or check the "
                          "disk.")
        .arg(QDir::toNativeSeparators(path_), error);
}

} // namespace vornal::worker
