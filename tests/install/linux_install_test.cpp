// The Linux install script, run for real by bash in a temporary folder that stands in for the
// install folder, the stage directory and the user's home.
#include "install/install_script.h"
#include "system/command_runner.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

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
    bool previous = false;        // a copy is installed
    bool previousStarted = false; // and running
    bool stagedExecutable = true;
    bool copyFails = false;
    bool otherUser = false; // run as root for the user "nobody"
    bool succeeds = true;
    const char *output = "";
    QString installed = u"new"_s; // which copy the install path holds afterwards, if any
    bool trashed = false;         // the previous copy lies in the Trash
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
    ASSERT_TRUE(writeFile(staged + u"/new"_s, QByteArray(64 * 1024, 'n')));
    ASSERT_TRUE(!row.stagedExecutable || writeFakeApp(staged, home + u"/new"_s));
    ASSERT_TRUE(!row.previous
                || (writeFile(app + u"/old"_s, "o") && writeFakeApp(app, home + u"/old"_s)));
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(QFileInfo(app).path()));
    if (row.previousStarted) {
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

    EXPECT_EQ(result.status == 0, row.succeeds) << result.output.toStdString();
    EXPECT_TRUE(result.output.contains(QString::fromUtf8(row.output)));
    EXPECT_EQ(QFile::exists(app + u"/new"_s), row.installed == u"new"_s);
    EXPECT_EQ(QFile::exists(app + u"/old"_s), row.installed == u"old"_s);
    if (row.previousStarted) {
        EXPECT_FALSE(running(started.first()));
    }
    // run has returned while the new copy is still running: it does not hold the output.
    const QStringList launched = row.succeeds ? marker(home + u"/new"_s) : QStringList();
    ASSERT_EQ(launched.size(), row.succeeds ? 3 : 0);
    if (row.succeeds) {
        started << launched[0].toInt();
        EXPECT_TRUE(running(started.last()));
        EXPECT_EQ(launched[1].toUInt(), inputs.userId);
        EXPECT_EQ(launched[2], row.otherUser ? home : qEnvironmentVariable("HOME"));
    }

    const auto filter = QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden | QDir::System;
    const QStringList trashed = QDir(trash + u"/files"_s).entryList(filter);
    const QStringList infos = QDir(trash + u"/info"_s).entryList(filter);
    ASSERT_EQ(trashed.size(), row.trashed ? 1 : 0);
    ASSERT_EQ(infos, row.trashed ? QStringList{trashed[0] + u".trashinfo"_s} : QStringList());
    if (!row.trashed)
        return;
    EXPECT_TRUE(QFile::exists(trash + u"/files/"_s + trashed[0] + u"/old"_s));
    const auto stamp =
        QRegularExpression(u"^Quillmere Desktop\\.(\\d{14})\\.app$"_s).match(trashed[0]);
    QFile info(trash + u"/info/"_s + infos[0]);
    ASSERT_TRUE(stamp.hasMatch() && info.open(QIODevice::ReadOnly));
    const auto fields = QRegularExpression(u"^\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4})-"
                                           "(\\d\\d)-(\\d\\d)T(\\d\\d):(\\d\\d):(\\d\\d)\n$"_s)
                            .match(QString::fromUtf8(info.readAll()));
    ASSERT_TRUE(fields.hasMatch());
    EXPECT_EQ(QByteArray::fromPercentEncoding(fields.captured(1).toUtf8()),
              QFile::encodeName(app));
    EXPECT_EQ(fields.capturedTexts().mid(2).join(QString()), stamp.captured(1));
    EXPECT_EQ(QFileInfo(info).ownerId(), inputs.userId);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinuxInstallScript,
    ::testing::Values(
        Row{.name = "fresh"},
        Row{.name = "update", .previous = true, .previousStarted = true, .trashed = true},
        Row{.name = "copyFailsOnUpdate", .previous = true, .copyFails = true, .succeeds = false,
            .output = "cp:", .installed = u"old"_s},
        Row{.name = "copyFailsOnFreshInstall", .copyFails = true, .succeeds = false,
            .output = "cp:", .installed = {}},
        Row{.name = "noExecutable", .previous = true, .stagedExecutable = false,
            .succeeds = false, .output = "不存在或不可执行", .trashed = true},
        Row{.name = "asRootForAnotherUser", .previous = true, .otherUser = true, .trashed = true}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillmere
