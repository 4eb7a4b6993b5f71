#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

struct Outcome
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
};

// As from a plain terminal: no display of any kind and no platform plugin chosen, so that a
// program that needs a display to read its arguments aborts here.
Outcome runWithoutDisplay(const QString &program, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Outcome run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    return run;
}

struct Case
{
    const char *program;
    const char *argument;
    const char *expected;
};

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay)
{
    const Case cases[] = {
        {OSTREL_LOBBY_BINARY, "--version", "Ostrel Software Lobby " OSTREL_VERSION},
        {OSTREL_LOBBY_BINARY, "-v", "Ostrel Software Lobby " OSTREL_VERSION},
        {OSTREL_LOBBY_BINARY, "--help", "--server <[tls://]HOST[:PORT]>"},
        {OSTREL_LOBBY_BINARY, "-h", "--site <URL>"},
        {OSTREL_SERVER_BINARY, "--version", "ostrel-lobby-server " OSTREL_VERSION},
        {OSTREL_SERVER_BINARY, "--help", "usage: ostrel-lobby-server"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.argument);
        const Outcome run =
            runWithoutDisplay(QString::fromUtf8(c.program), {QString::fromUtf8(c.argument)});
        EXPECT_EQ(run.status, QProcess::NormalExit);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.out.contains(QString::fromUtf8(c.expected))) << run.out.toStdString();
    }
}

} // namespace
