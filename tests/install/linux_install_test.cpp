// The Linux install script, run for real by bash in a temporary folder that stands in for the
// install folder, the stage directory and the user's home: what the whole road through the
// controller does not show (the Trash's info file, a failed fresh install, a run as root for
// another user). Kills part-way and a failed update are rows of the road
// (tests/ui/install_road_test.cpp), for both platforms' scripts.
#include "install/install_script.h"
#include "system/command_runner.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include "support/printing.h"

#include <gtest/gtest.h>

#include <csignal>

#include <pwd.h>
#include <unistd.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(bytes) == bytes.size();
}

// A stand-in for the product that writes "pid uid HOME" to `marker` and keeps running under
// its own command line, its output left wherever it was started with.
bool writeFakeApp(const QString &appPath, const QString &marker)
{
    const QString path = appPath + u"/Contents/MacOS/Quillmere Desktop"_s;
    const QByteArray to = "'" + QFile::encodeName(marker);
    return writeFile(path, "#!/bin/bash\nprintf '%s %s %s' $$ \"$(/usr/bin/id -u)\" \"$HOME\" >"
                               + to + ".tmp'\n/bin/mv " + to + ".tmp' " + to
                               + "'\nexec -a \"$0\" /bin/sleep 30\n")
        && QFile::setPermissions(path, QFile::Permissions(0x7755));
}

// The marker's fields, waiting up to 10 seconds for them.
QStringList marker(const QString &path)
{
    for (int i = 0; i < 200 && !QFile::exists(path); ++i)
        QThread::msleep(50);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u' ')
                                          : QStringList();
}

// Running, not merely a zombie that nobody reaps.
bool running(int pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
}

struct Row {
    const char *name;
    bool previous;  // a copy is installed, and running
    bool copyFails; // the copy stops halfway
    bool otherUser; // run as root for the user "nobody"
};

class LinuxInstallScript : public ::testing::TestWithParam<Row> {
protected:
    void TearDown() override
    {
        for (const int pid : started) {
            if (pid > 0)
                ::kill(pid, SIGKILL);
        }
    }
    QList<int> started;
};

TEST_P(LinuxInstallScript, ReplacesTheCopyAndStartsIt)
{
    const Row &row = GetParam();
    const passwd *nobody = ::getpwnam("nobody");
    if (row.otherUser && (::geteuid() != 0 || !nobody))
        GTEST_SKIP() << "needs root and a user nobody";
    QTemporaryDir root;
    QFile::setPermissions(root.path(), QFile::Permissions(0x7755));
    const QString app = root.filePath(u"it's Apps/Quillmere Desktop.app"_s);
    const QString staged = root.filePath(u"stage/Quillmere Desktop.app"_s);
    const QString home = root.filePath(u"home"_s);
    const QString trash = home + u"/.local/share/Trash"_s;
    // Large enough for the file size limit that makes the copy fail.
    ASSERT_TRUE(writeFile(staged + u"/new"_s, QByteArray(64 * 1024, 'n'))
                && writeFakeApp(staged, home + u"/new"_s));
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(QFileInfo(app).path()));
    if (row.previous) {
        ASSERT_TRUE(writeFile(app + u"/old"_s, "o") && writeFakeApp(app, home + u"/old"_s));
        const QString start = u"/usr/bin/setsid -f \"$0\" </dev/null >/dev/null 2>&1"_s;
        const QString executable = app + u"/Contents/MacOS/Quillmere Desktop"_s;
        ASSERT_EQ(run(u"/bin/bash"_s, {u"-c"_s, start, executable}).status, 0);
        started << marker(home + u"/old"_s).value(0).toInt();
    }

    LinuxInstallInputs inputs{app, staged, trash, ::getuid(), ::getgid(), {{u"HOME"_s, home}}};
    if (row.otherUser) {
        inputs.userId = nobody->pw_uid;
        inputs.groupId = nobody->pw_gid;
        ASSERT_EQ(::chown(QFile::encodeName(home).constData(), nobody->pw_uid, 0), 0);
    }
    const QString script = root.filePath(u"stage/install.sh"_s);
    ASSERT_EQ(writeInstallScript(script, linuxInstallScript(inputs)), std::nullopt);
    // A file size limit stops cp halfway (as root too) and nothing else the script writes.
    const QString limit = row.copyFails ? u"ulimit -f 16; trap '' XFSZ; "_s : QString();
    const CommandResult result =
        run(u"/bin/bash"_s, {u"-c"_s, limit + u"exec /bin/bash \"$0\""_s, script});

    // The previous copy was stopped; a failed copy leaves it (or nothing) in place.
    EXPECT_EQ(result.status == 0, !row.copyFails) << result.output.toStdString();
    EXPECT_EQ(result.output.contains(u"cp:"_s), row.copyFails);
    EXPECT_EQ(QFile::exists(app + u"/new"_s), !row.copyFails);
    EXPECT_EQ(QFile::exists(app + u"/old"_s), row.previous && row.copyFails);
    EXPECT_TRUE(!row.previous || !running(started.first()));
    if (!row.copyFails) {
        // run has returned while the new copy is still running: it does not hold the output.
        const QStringList launched = marker(home + u"/new"_s);
        ASSERT_EQ(launched.size(), 3);
        started << launched[0].toInt();
        EXPECT_TRUE(running(started.last()));
        EXPECT_EQ(launched[1].toUInt(), inputs.userId);
        EXPECT_EQ(launched[2], row.otherUser ? home : qEnvironmentVariable("HOME"));
    }

    // A replaced copy is in the Trash with an info file that puts it back where it was, gives
    // the time of its name and belongs to the user.
    const bool trashed = row.previous && !row.copyFails;
    const QStringList files = QDir(trash + u"/files"_s).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    const QStringList infos = QDir(trash + u"/info"_s).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    ASSERT_EQ(files.size(), trashed ? 1 : 0);
    ASSERT_EQ(infos, trashed ? QStringList{files[0] + u".trashinfo"_s} : QStringList());
    if (!trashed)
        return;
    QFile info(trash + u"/info/"_s + infos[0]);
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    const auto fields = QRegularExpression(u"^\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4})-"
                                           "(\\d\\d)-(\\d\\d)T(\\d\\d):(\\d\\d):(\\d\\d)\n$"_s)
                            .match(QString::fromUtf8(info.readAll()));
    ASSERT_TRUE(fields.hasMatch());
    EXPECT_EQ(QByteArray::fromPercentEncoding(fields.captured(1).toUtf8()), QFile::encodeName(app));
    EXPECT_EQ(files[0], u"Quillmere Desktop.%1.app"_s.arg(fields.capturedTexts().mid(2).join(QString())));
    EXPECT_EQ(QFileInfo(info).ownerId(), inputs.userId);
}

INSTANTIATE_TEST_SUITE_P(Cases, LinuxInstallScript, ::testing::Values(
    Row{"updateStopsTheRunningCopy", true, false, false},
    Row{"copyFailsOnFreshInstall", false, true, false},
    Row{"asRootForAnotherUser", true, false, true}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillmere
