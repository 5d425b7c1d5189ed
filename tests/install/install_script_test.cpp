#include "install/install_script.h"
#include "install/privileged_run.h"
#include "system/command_runner.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(InstallScript, ShellQuoteEscapesOnlySingleQuotes)
{
    EXPECT_EQ(shellQuote(u"/tmp/it's/Quillmere Desktop.app"_s),
              u"'/tmp/it'\\''s/Quillmere Desktop.app'"_s);
    EXPECT_EQ(shellQuote(u"$HOME `id` \"\\\n"_s), u"'$HOME `id` \"\\\n'"_s);
}

TEST(InstallScript, WritingReplacesALinkAndMakesTheScriptExecutable)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(u"target"_s);
    const QString path = installScriptPath(dir.path());
    ASSERT_TRUE(QFile(target).open(QIODevice::WriteOnly) && QFile::link(target, path));
    EXPECT_EQ(writeInstallScript(path, u"echo 安装"_s), std::nullopt);
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(QFileInfo(target).size(), 0);
    EXPECT_EQ((QFileInfo(path).permissions() & 0x7077).toInt(), 0x7055); // rwxr-xr-x
}

// The macOS command line runs in the road through the stand-in osascript, which takes only
// its exact form.
TEST(PrivilegedRun, LinuxCommandLines)
{
    const QString script = u"/tmp/s/install.sh"_s;
    EXPECT_EQ(linuxInstallCommand(script, true), (ToolCommand{u"/bin/bash"_s, {script}}));
    EXPECT_EQ(linuxInstallCommand(script, false),
              (ToolCommand{u"/usr/bin/pkexec"_s, {u"/bin/bash"_s, script}}));
}

TEST(PrivilegedRun, OutcomeOfTheRun)
{
    using enum InstallOutcome;
    const struct {
        CommandResult result;
        bool throughPkexec;
        InstallOutcome outcome;
        QString message;
    } rows[] = {
        {{0, u"User cancelled. (-128)"_s}, false, Completed, {}},
        {{1, u"execution error: User canceled. (-128)\n"_s}, false, Cancelled, {}},
        {{1, u"error -12800"_s}, false, Cancelled, {}},
        {{1, u"CANCEL"_s}, false, Cancelled, {}},
        {{1, u""_s}, false, Failed, u"安装失败："_s},
        {{1, u"error 128\n"_s}, false, Failed, u"安装失败：error 128"_s},
        {{126, u"Error executing command as another user: Request dismissed\n"_s}, true,
         Cancelled, {}},
        {{127, u"Error executing command as another user: Not authorized\n"_s}, true, Failed,
         u"安装失败：Error executing command as another user: Not authorized"_s},
        {{126, u"install.sh: Permission denied"_s}, false, Failed,
         u"安装失败：install.sh: Permission denied"_s},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.result.output.toStdString());
        const CommandResult result = row.throughPkexec ? pkexecResult(row.result) : row.result;
        EXPECT_EQ(classifyInstall(result), row.outcome);
        if (row.outcome == Failed) {
            EXPECT_EQ(installFailureMessage(result), row.message);
        }
    }
}

}  // namespace
}  // namespace quillmere
