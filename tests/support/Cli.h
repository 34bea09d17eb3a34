#pragma once
// The one way tests run vornal-cli: the program of this build, English messages, no settings file
// or shared store picked up from the caller's environment, and a time-out that fails the test.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace vornal::test {

struct CliResult {
    int exitCode = -1; // -1 when the program crashed or did not finish
    QString out;
    QString err;
};

inline QString cliPath() {
    return QStringLiteral(VORNAL_BIN_DIR "/vornal-cli");
}

inline QProcessEnvironment cliEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    env.remove(QStringLiteral("VORNAL_PREFS_FILE"));
    env.remove(QStringLiteral("VORNAL_SHARED"));
    return env;
}

// Starts vornal-cli for a caller that drives it (reads while it runs, stops it).
inline void startCli(QProcess& p, const QStringList& args,
                     const QProcessEnvironment& env = cliEnvironment()) {
    p.setProcessEnvironment(env);
    p.start(cliPath(), args);
    EXPECT_TRUE(p.waitForStarted()) << p.errorString().toStdString();
}

// Runs vornal-cli to its end with input on standard input.
inline CliResult runCli(const QStringList& args, const QByteArray& input = {}, int timeoutMs = 30000,
                        const QProcessEnvironment& env = cliEnvironment()) {
    QProcess p;
    startCli(p, args, env);
    p.write(input);
    p.closeWriteChannel();
    CliResult r;
    if (!p.waitForFinished(timeoutMs)) {
        ADD_FAILURE() << "vornal-cli " << args.join(u' ').toStdString() << " did not finish within "
                      << timeoutMs << " ms";
        p.kill();
        p.waitForFinished();
    } else if (p.exitStatus() == QProcess::NormalExit) {
        r.exitCode = p.exitCode();
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace vornal::test
