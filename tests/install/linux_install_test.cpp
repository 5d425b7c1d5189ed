// The Linux install script, run for real by bash in a temporary folder that stands in for the
// install folder, the stage directory and the user's home: what the whole road through the
// controller does not show (a running previous copy, a failed copy, the Trash's info file, a
// run as root for another user).
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
    bool previous;  // a copy is installed, and running
    bool copyFails; // the copy stops halfway
    bool otherUser; // run as root for the user "nobody"
    // The script is killed (SIGKILL) just before the command that starts with this, then run
    // again to its end.
    const char *killedAt = nullptr;
    // No install folder yet, the script makes it: in a folder only root may write (Above::Root)
    // or in the user's home.
    enum class Above { None, Root, Home } folderMissing = Above::None;
};

// A copy at `app` or in the Trash with its info file, holding `file`.
bool heldAt(const QString &app, const QString &trash, const QString &file)
{
    if (QFile::exists(app + file))
        return true;
    for (const QString &name : QDir(trash + u"/files"_s).entryList(QDir::NoDotAndDotDot | QDir::AllEntries)) {
        if (QFile::exists(trash + u"/files/"_s + name + file)
            && QFile::exists(trash + u"/info/"_s + name + u".trashinfo"_s))
            return true;
    }
    return false;
}

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
    const QString home = root.filePath(u"home"_s);
    const QString app = (row.folderMissing == Row::Above::Home ? home : root.path()) + u"/it's Apps/Quillmere Desktop.app"_s;
    const QString staged = root.filePath(u"stage/Quillmere Desktop.app"_s);
    const QString trash = home + u"/.local/share/Trash"_s;
    // Large enough for the file size limit that makes the copy fail.
    ASSERT_TRUE(writeFile(staged + u"/new"_s, QByteArray(64 * 1024, 'n'))
                && writeFakeApp(staged, home + u"/new"_s));
    ASSERT_TRUE(QDir().mkpath(home) && (row.folderMissing != Row::Above::None || QDir().mkpath(QFileInfo(app).path())));
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
    if (row.killedAt) {
        // Killed during the copy: the copy has begun (one file of it is there).
        const QString kill = uR"sh(set -T; trap 'if [[ $BASH_COMMAND == "$KILLED_AT"* ]]; then
  [ "$KILLED_AT" = "/bin/cp -a -T" ] && /bin/mkdir -p "$APP" && /bin/cp "$STAGED/new" "$APP/"
  /bin/kill -KILL $$; fi' DEBUG; . "$0")sh"_s;
        const CommandResult killed = run(u"/usr/bin/env"_s, {u"KILLED_AT="_s + QString::fromUtf8(row.killedAt),
                                                             u"/bin/bash"_s, u"-c"_s, kill, script});
        EXPECT_EQ(killed.status, SIGKILL) << killed.output.toStdString();
        EXPECT_TRUE(heldAt(app, trash, u"/old"_s));
        // Run again, it completes, and the previous copy is still in the Trash.
        EXPECT_EQ(run(u"/bin/bash"_s, {script}).status, 0);
        EXPECT_TRUE(QFile::exists(app + u"/new"_s) && !QFile::exists(app + u"/old"_s));
        EXPECT_TRUE(heldAt(QString(), trash, u"/old"_s));
        started << marker(home + u"/new"_s).value(0).toInt();
        return;
    }
    const CommandResult result =
        run(u"/bin/bash"_s, {u"-c"_s, limit + u"exec /bin/bash \"$0\""_s, script});

    // The previous copy was stopped; a failed copy leaves it (or nothing) in place.
    EXPECT_EQ(result.status == 0, !row.copyFails) << result.output.toStdString();
    EXPECT_EQ(result.output.contains(u"cp:"_s), row.copyFails);
    EXPECT_EQ(QFile::exists(app + u"/new"_s), !row.copyFails);
    EXPECT_EQ(QFile::exists(app + u"/old"_s), row.previous && row.copyFails);
    EXPECT_TRUE(!row.previous || !running(started.first()));
    // Made as the user where the user may write the folder above it.
    if (row.folderMissing != Row::Above::None) {
        EXPECT_EQ(QFileInfo(QFileInfo(app).path()).ownerId(), row.folderMissing == Row::Above::Root ? ::getuid() : inputs.userId);
    }
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
    Row{"freshInstall", false, false, false},
    Row{"freshInstallIntoAMissingFolder", false, false, false, nullptr, Row::Above::Root},
    Row{"asRootIntoAMissingFolder", false, false, true, nullptr, Row::Above::Root},
    Row{"asRootIntoAMissingFolderTheUserMayMake", false, false, true, nullptr, Row::Above::Home},
    Row{"updateStopsTheRunningCopy", true, false, false},
    Row{"copyFailsOnUpdate", true, true, false},
    Row{"copyFailsOnFreshInstall", false, true, false},
    Row{"asRootForAnotherUser", true, false, true},
    Row{"killedBeforeTheMoveToTheTrash", true, false, false, "/bin/mv -T -- \"$APP\""},
    Row{"killedAfterTheMoveToTheTrash", true, false, false, "/bin/cp -a"},
    Row{"killedDuringTheCopy", true, false, false, "/bin/cp -a -T"},
    Row{"killedAfterTheCopy", true, false, false, "[ ! -f"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillmere
