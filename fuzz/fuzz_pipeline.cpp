// Random bytes through a connection's processing, with a random preset and random processing settings:
// line assembly (with a small length cap now and then), extraction, editing, removal, number formatting
// and duplicate suppression. Only ProcessingError may come out of a line, every complete line is
// counted, and a numeric preset only ever yields a decimal number to type.

#include "FuzzSupport.h"

#include "vornal/worker/Ignorer.h"
#include "vornal/worker/LinePipeline.h"

#include <optional>

using namespace vornal;
using decimal::ProcessingError;
using worker::LineAssembler;
using worker::LinePipeline;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = (fuzz::quietQt(), true);
    (void)once;
    fuzz::ByteReader in(data, size);
    config::Config settings = fuzz::settingsFromHeader(in);
    const uint8_t extra = in.byte();
    if (extra & 1) {
        // A custom expression typed by the user: up to 31 characters from the input.
        settings.setCustomRegEx(in.latin1(in.byte() % 32));
    }
    const qsizetype cap = (extra & 2) ? 64 : LineAssembler::defaultMaxLineLength;

    const LinePipeline::Mode mode = LinePipeline::modeFor(settings);
    std::optional<LinePipeline> pipeline;
    try {
        pipeline.emplace(settings, mode);
    } catch (const ProcessingError&) {
        return 0; // settings no connection can work with: the connection is refused with a message
    }
    worker::Ignorer ignorer = worker::Ignorer::fromConfig(settings);
    const QChar separator = settings.getDecimalSeparator().getCharacter();

    LineAssembler assembler(settings.getInputTerminator(), cap);
    const uint8_t* bytes = in.rest();
    const size_t n = in.restSize();
    qint32 complete = 0;
    for (size_t i = 0; i < n; ++i) {
        // Every 7th byte of a line with bit 0x80 set arrives with a parity error.
        if ((bytes[i] & 0x80) && i % 7 == 0)
            assembler.markError();
        const LineAssembler::Step step = assembler.add(bytes[i]);
        VORNAL_FUZZ_CHECK(assembler.pending().size() <= cap, QString::number(assembler.pending().size()));
        if (step != LineAssembler::Step::Complete)
            continue;
        const QString line = assembler.line();
        VORNAL_FUZZ_CHECK(!line.isEmpty() && line.back().unicode() == assembler.terminator(),
                          worker::DataLine::transformControlChars(line.right(40)));
        VORNAL_FUZZ_CHECK(line.size() <= cap, QString::number(line.size()));
        VORNAL_FUZZ_CHECK(line.indexOf(QChar(char16_t(assembler.terminator()))) == line.size() - 1,
                          worker::DataLine::transformControlChars(line.left(40)));
        const bool error = assembler.lineHasError();
        assembler.clear();
        ++complete;
        try {
            worker::DataLine dl = pipeline->process(line, error);
            VORNAL_FUZZ_CHECK(dl.rawData() == line && dl.isError() == error, QString());
            VORNAL_FUZZ_CHECK(dl.getCount() == complete, QString::number(dl.getCount()));
            const QString value = dl.getProcessedData();
            if (mode == LinePipeline::Mode::Number && !value.isEmpty()) {
                const auto number = decimal::Decimal::parse(QString(value).replace(separator, u'.'));
                VORNAL_FUZZ_CHECK(number.has_value(),
                                  worker::DataLine::transformControlChars(value.left(80)));
                VORNAL_FUZZ_CHECK(!value.contains(u' '), value.left(80));
            }
            if (settings.ignoreDuplicates) {
                ignorer.process(dl);
                VORNAL_FUZZ_CHECK(dl.getProcessedData().isEmpty() || dl.getProcessedData() == value,
                                  QString());
            }
        } catch (const ProcessingError& e) {
            // The line is still counted, so the next one has the next number.
            VORNAL_FUZZ_CHECK(pipeline->count() == complete, QString::fromUtf8(e.what()));
        }
    }
    return 0;
}
