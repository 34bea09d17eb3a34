// The request socket's protocol as a client drives it, chunk by chunk: the verdict on what was received
// so far never goes back once given, a request is recognised only in a first line that is "request"
// (blanks around it aside), and nothing past the line limit is ever waited for.
// Input: a byte giving the chunk size (1..64), then the bytes the client sends.

#include "FuzzSupport.h"

#include "vornal/worker/RequestSender.h"

using vornal::worker::RequestSender;
using Received = RequestSender::Received;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t chunk = 1 + data[0] % 64;
    const QByteArray sent(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    QByteArray received;
    Received verdict = Received::More;
    for (qsizetype at = 0; at < sent.size() && verdict == Received::More; at += qsizetype(chunk)) {
        received += sent.mid(at, qsizetype(chunk));
        verdict = RequestSender::judge(received);
        // The server reads at most one byte past the limit before it decides.
        VORNAL_FUZZ_CHECK(verdict != Received::More || received.size() <= RequestSender::MAX_LINE,
                          QString::number(received.size()));
    }
    const qsizetype newline = sent.indexOf('\n');
    if (newline < 0 || newline > RequestSender::MAX_LINE) {
        VORNAL_FUZZ_CHECK(verdict ==
                              (sent.size() > RequestSender::MAX_LINE ? Received::TooLong : Received::More),
                          QString::fromLatin1(sent.left(80).toHex()));
        return 0;
    }
    const bool isRequest = sent.left(newline).trimmed() == "request";
    VORNAL_FUZZ_CHECK(verdict == (isRequest ? Received::Request : Received::Unknown),
                      QString::fromLatin1(sent.left(80).toHex()));
    // Whatever follows the line does not change the verdict.
    VORNAL_FUZZ_CHECK(RequestSender::judge(sent.left(newline + 1) + "request\n") == verdict, QString());
    return 0;
}
