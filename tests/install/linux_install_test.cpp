// The Linux install script, run for real by bash in a temporary folder that stands in for the
// install folder, the stage directory and the user's home: what the whole road through the
// controller does not show: a run as root for another user, and the Trash's info file. A
// running copy, failed copies and kills part-way are rows of the road
// (tests/ui/install_road_test.cpp), for both platforms' scripts.
#include "install/install_script.h"
#include "system/command_runner.h"

#include <QDir>
#include <QScopeGuard>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "support/printing.h"

#include <gtest/gtest.h>

#include <csignal>

#include <pwd.h>
#include <unistd.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// A stand-in for the product, with a file `name` beside it, that writes "pid uid HOME" to
// home/`name` and keeps running under its own command line, its output left wherever it was
// started with.
bool writeFakeApp(const QString &appPath, const QString &home, const QString &name)
{
    const QString path = appPath + u"/Contents/MacOS/Quillmere Desktop"_s;
    const QByteArray to = "'" + QFile::encodeName(home + u'/' + name);
    QFile beside(appPath + u'/' + name), executable(path);
    return QDir().mkpath(QFileInfo(path).path()) && beside.open(QIODevice::WriteOnly) && executable.open(QIODevice::WriteOnly)
        && executable.write("#!/bin/bash\nprintf '%s %s %s' $$ \"$(/usr/bin/id -u)\" \"$HOME\" >" + to + ".tmp'\n/bin/mv "
                            + to + ".tmp' " + to + "'\nexec -a \"$0\" /bin/sleep 30\n") > 0
        && executable.setPermissions(QFile::Permissions(0x7755));
}

// Runs as root for the user "nobody", in a temporary folder root may write and nobody may not
// (but for nobody's home inside it), with the new copy staged.
// The previous copy goes into the user's Trash, with an info file that puts it back where it
// was, gives the time of its name and belongs to the user.
TEST(LinuxInstallScript, AsRootForAnotherUser)
{
    const passwd *nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and a user nobody";
    QTemporaryDir root;
    const QString home = root.filePath(u"home"_s), trash = home + u"/.local/share/Trash"_s;
    const QString staged = root.filePath(u"stage/Quillmere Desktop.app"_s);
    QList<int> started;
    const auto stopStarted = qScopeGuard([&] {
        for (const int pid : started)
            if (pid > 0)
                ::kill(pid, SIGKILL);
    });
    QFile::setPermissions(root.path(), QFile::Permissions(0x7755));
    ASSERT_TRUE(QDir().mkpath(home) && writeFakeApp(staged, home, u"new"_s));
    ASSERT_EQ(::chown(QFile::encodeName(home).constData(), nobody->pw_uid, 0), 0);
    // Installs at `app`: the new copy is in place and runs as nobody, with nobody's HOME; run
    // has returned while it is still running (it does not hold the output).
    const auto install = [&](const QString &app) {
        const LinuxInstallInputs inputs{app, staged, trash, nobody->pw_uid, nobody->pw_gid, {{u"HOME"_s, home}}};
        const QString script = root.filePath(u"stage/install.sh"_s);
        ASSERT_EQ(writeInstallScript(script, linuxInstallScript(inputs)), std::nullopt);
        const CommandResult result = run(u"/bin/bash"_s, {script});
        EXPECT_EQ(result.status, 0) << result.output.toStdString();
        // What the new copy wrote, waited for up to 10 seconds; it is running, not merely a zombie.
        QFile marker(home + u"/new"_s);
        (void)QTest::qWaitFor([&] { return marker.exists(); }, 10000);
        const QStringList launched = marker.open(QIODevice::ReadOnly) ? QString::fromUtf8(marker.readAll()).split(u' ') : QStringList();
        started << launched.value(0).toInt();
        QFile stat(u"/proc/%1/stat"_s.arg(started.last()));
        EXPECT_TRUE(QFile::exists(app + u"/new"_s) && stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z "));
        EXPECT_EQ(launched.mid(1), (QStringList{QString::number(nobody->pw_uid), home}));
        marker.remove();
    };
    const QString app = root.filePath(u"it's Apps/Quillmere Desktop.app"_s);
    ASSERT_TRUE(writeFakeApp(app, home, u"old"_s));
    install(app);
    EXPECT_FALSE(QFile::exists(app + u"/old"_s));

    const QStringList files = QDir(trash + u"/files"_s).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    ASSERT_EQ(QDir(trash + u"/info"_s).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{files.value(0) + u".trashinfo"_s});
    QFile info(trash + u"/info/"_s + files[0] + u".trashinfo"_s);
    ASSERT_TRUE(files.size() == 1 && info.open(QIODevice::ReadOnly));
    const auto fields = QRegularExpression(u"^\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4})-"
                                           "(\\d\\d)-(\\d\\d)T(\\d\\d):(\\d\\d):(\\d\\d)\n$"_s)
                            .match(QString::fromUtf8(info.readAll()));
    ASSERT_TRUE(fields.hasMatch());
    EXPECT_EQ(std::tuple(QByteArray::fromPercentEncoding(fields.captured(1).toUtf8()), files[0], QFileInfo(info).ownerId()),
              std::tuple(QFile::encodeName(app), u"Quillmere Desktop.%1.app"_s.arg(fields.capturedTexts().mid(2).join(QString())),
                         nobody->pw_uid));

    // A missing install folder is made as the user where the user may write the folder above it,
    // otherwise as root.
    for (const auto &[above, owner] : {std::pair{home, nobody->pw_uid}, {root.path(), 0u}}) {
        const QString fresh = above + u"/new Apps/Quillmere Desktop.app"_s;
        install(fresh);
        EXPECT_EQ(QFileInfo(QFileInfo(fresh).path()).ownerId(), owner) << above.toStdString();
    }
}

}  // namespace
}  // namespace quillmere
