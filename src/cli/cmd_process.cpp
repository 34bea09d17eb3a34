// vornal-cli process: the pipeline of a connection over bytes from standard input.
#include "Cli.h"
#include "SettingsArgs.h"

#include "vornal/worker/Ignorer.h"
#include "vornal/worker/LinePipeline.h"
#include "vornal/worker/StabilityFilter.h"
#include "vornal/worker/WeightWorker.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace {

using namespace vornal;
using worker::DataLine;
using worker::LineAssembler;
using worker::LinePipeline;

int runProcess(cli::Invocation& inv, cli::Io& io) {
    int rc = cli::Ok;
    const bool json = cli::takeFlag(inv.args, QStringLiteral("--json"));
    auto config = cli::loadSettingsWithOverrides(inv, io, {}, &rc);
    if (!config)
        return rc;
    QString error;
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (!rest->isEmpty())
        return cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(rest->first()), cli::Usage);

    std::optional<LinePipeline> pipeline;
    try {
        pipeline.emplace(*config, LinePipeline::modeFor(*config));
    } catch (const std::exception& e) {
        return cli::fail(io, inv,
                         worker::WeightWorker::text("execution.exception") + QString::fromUtf8(e.what()));
    }
    std::optional<worker::Ignorer> ignorer;
    if (config->ignoreDuplicates)
        ignorer = worker::Ignorer::fromConfig(*config);
    // Stable readings and one value per placement, as in a connection.
    std::optional<worker::StabilityFilter> stability = worker::StabilityFilter::fromConfig(*config);
    if (!stability && (config->getTypeOnlyStable() || config->getOncePerPlacement()))
        io.err << "vornal-cli process: " << worker::WeightWorker::text("stable.no.rule") << Qt::endl;

    auto report = [&](const DataLine* line, qint32 count, const QString& raw, const QString& failure) {
        if (json) {
            QJsonObject o;
            o[QStringLiteral("count")] = count;
            o[QStringLiteral("value")] = line ? line->getProcessedData() : QString();
            o[QStringLiteral("raw")] = DataLine::transformControlChars(raw);
            o[QStringLiteral("error")] = line ? line->isError() : false;
            o[QStringLiteral("failure")] = failure.isNull() ? QJsonValue() : QJsonValue(failure);
            io.out << QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) << '\n';
        } else {
            if (!failure.isNull())
                io.err << "line " << count << ": Error [WW]: " << failure << Qt::endl;
            io.out << (line ? line->getProcessedData() : QString()) << '\n';
        }
        io.out.flush();
    };

    LineAssembler assembler(config->getInputTerminator());
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly | QIODevice::Unbuffered))
        return cli::fail(io, inv, QStringLiteral("cannot read standard input: %1").arg(in.errorString()));
    char chunk[4096];
    for (;;) {
        const qint64 n = in.read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        for (qint64 i = 0; i < n; ++i) {
            switch (assembler.add(quint8(chunk[i]))) {
            case LineAssembler::Step::Pending:
            case LineAssembler::Step::Dropped:
                break;
            case LineAssembler::Step::Overflow:
                io.err << "vornal-cli process: a line grew past " << assembler.maxLineLength()
                       << " bytes without the input terminator (code " << assembler.terminator()
                       << ") and was dropped up to the next terminator; check the input terminator setting."
                       << Qt::endl;
                break;
            case LineAssembler::Step::Complete:
                try {
                    DataLine line = pipeline->process(assembler.line(), assembler.lineHasError());
                    if (stability)
                        stability->process(line);
                    if (ignorer)
                        ignorer->process(line);
                    report(&line, line.getCount(), line.rawData(), QString());
                } catch (const std::exception& e) {
                    report(nullptr, pipeline->count(), assembler.line(), QString::fromUtf8(e.what()));
                }
                assembler.clear();
                break;
            }
        }
    }
    if (assembler.hasPending())
        io.err << "vornal-cli process: " << worker::WeightWorker::text("unsent.data") << ' '
               << DataLine::transformControlChars(assembler.pending()) << Qt::endl;
    return cli::Ok;
}

cli::Register reg{{"process", "process [--preset NAME] [--set KEY=VALUE]... [--json]",
                   "run the line pipeline over bytes from standard input", &runProcess}};

} // namespace
