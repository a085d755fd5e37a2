// The one-instance guard is tested with real processes: copies of a program under one file
// name share the guard, copies under another name do not. Every test uses its own file name,
// so tests running side by side never meet.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <csignal>

namespace {

QString uniqueName(const char* tag) {
    return QString("kp-%1-%2-%3")
        .arg(tag)
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->bounded(1000000));
}

// Copies `source` to dir/sub/name and returns the copy's path.
QString copyProgram(const QTemporaryDir& dir, const QString& sub, const QString& name, const char* source) {
    QDir(dir.path()).mkpath(sub);
    const QString target = dir.path() + "/" + sub + "/" + name;
    EXPECT_TRUE(QFile::copy(source, target));
    QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner);
    return target;
}

void start(QProcess& p, const QString& program, const QStringList& args, const QString& workDir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KP_TIME_SCALE", "0.001");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workDir);
    p.start(program, args);
    ASSERT_TRUE(p.waitForStarted(10000));
}

// Looks for `line` on standard output and standard error.
bool waitForLine(QProcess& p, const QByteArray& line, int timeout_ms = 15000) {
    QByteArray seen;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeout_ms) {
        p.waitForReadyRead(100);
        seen += p.readAllStandardOutput();
        seen += p.readAllStandardError();
        if (seen.contains(line)) return true;
        if (p.state() == QProcess::NotRunning) return seen.contains(line);
    }
    return false;
}

}  // namespace

TEST(SingleApplication, SecondCopyHandsOverAndTheFirstComesToTheFront) {
    QTemporaryDir dir;
    const QString name = uniqueName("probe");
    const QString first = copyProgram(dir, "a", name, KP_PROBE_EXECUTABLE);
    const QString second = copyProgram(dir, "b", name, KP_PROBE_EXECUTABLE);  // same name, other folder

    QProcess a;
    start(a, first, {}, dir.path());
    ASSERT_TRUE(waitForLine(a, "ready"));

    QProcess b;
    start(b, second, {"one", "two", "last"}, dir.path());
    ASSERT_TRUE(b.waitForFinished(10000));
    EXPECT_EQ(b.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(b.exitCode(), 0);
    EXPECT_TRUE(b.readAllStandardOutput().isEmpty()) << "the second copy shows nothing";

    EXPECT_TRUE(waitForLine(a, "raised"));
    ASSERT_TRUE(a.waitForFinished(10000));
    EXPECT_EQ(a.exitCode(), 0);
}

TEST(SingleApplication, ConnectionBeforeTheWindowExistsIsDropped) {
    QTemporaryDir dir;
    const QString program = copyProgram(dir, "a", uniqueName("early"), KP_PROBE_EXECUTABLE);
    QProcess a;
    start(a, program, {"--no-window"}, dir.path());
    ASSERT_TRUE(waitForLine(a, "ready"));
    QProcess b;
    start(b, program, {}, dir.path());
    ASSERT_TRUE(b.waitForFinished(10000));
    EXPECT_EQ(b.exitCode(), 0);
    ASSERT_TRUE(a.waitForFinished(10000));
    EXPECT_EQ(a.exitCode(), 0);
    EXPECT_FALSE(a.readAllStandardOutput().contains("raised"));
}

TEST(SingleApplication, ProgramsWithOtherNamesRunSideBySide) {
    QTemporaryDir dir;
    QProcess a, b;
    start(a, copyProgram(dir, "a", uniqueName("one"), KP_PROBE_EXECUTABLE), {}, dir.path());
    start(b, copyProgram(dir, "b", uniqueName("two"), KP_PROBE_EXECUTABLE), {}, dir.path());
    EXPECT_TRUE(waitForLine(a, "ready"));
    EXPECT_TRUE(waitForLine(b, "ready"));
    EXPECT_EQ(a.state(), QProcess::Running);
    EXPECT_EQ(b.state(), QProcess::Running);
    a.kill();
    b.kill();
    a.waitForFinished();
    b.waitForFinished();
}

TEST(SingleApplication, RealProgramSecondStartExitsAtOnceAndStaleNameIsReclaimed) {
    QTemporaryDir dir;
    const QString program = copyProgram(dir, "bin", uniqueName("tool"), KP_TOOL_EXECUTABLE);

    // The window's first debug line comes after the guard has started listening.
    const QByteArray window_built = QStringLiteral("开始打印").toUtf8();
    QProcess first;
    start(first, program, {}, dir.path());
    ASSERT_TRUE(waitForLine(first, window_built)) << "the first copy builds its window";

    QProcess second;
    start(second, program, {"file.bin"}, dir.path());
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    // A killed copy leaves its socket name behind; the next start must take it over.
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    first.waitForFinished(5000);

    QProcess third;
    start(third, program, {}, dir.path());
    ASSERT_TRUE(waitForLine(third, window_built)) << "the stale name must not make it a second copy";
    QProcess fourth;
    start(fourth, program, {}, dir.path());
    ASSERT_TRUE(fourth.waitForFinished(10000));
    EXPECT_EQ(fourth.exitCode(), 0) << "the reclaimed name guards again";
    EXPECT_EQ(third.state(), QProcess::Running);
    third.kill();
    third.waitForFinished();
}
