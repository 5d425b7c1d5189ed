#include "install/install_script.h"
#include "install/privileged_run.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// A link planted where the script goes is replaced, never written through.
TEST(InstallScript, WritingReplacesALinkAndMakesTheScriptExecutable)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(u"target"_s), path = installScriptPath(dir.path());
    ASSERT_TRUE(QFile(target).open(QIODevice::WriteOnly) && QFile::link(target, path));
    EXPECT_EQ(writeInstallScript(path, u"echo 安装"_s), std::nullopt);
    // Not a link, the target untouched, rwxr-xr-x.
    EXPECT_EQ(std::tuple(QFileInfo(path).isSymLink(), QFileInfo(target).size(), (QFileInfo(path).permissions() & 0x7077).toInt()),
              std::tuple(false, 0, 0x7055));
}

// The road runs a dismissed prompt on both platforms; these are the edges around it.
TEST(PrivilegedRun, OutcomeOfTheRun)
{
    using enum InstallOutcome;
    using enum Prompt;
    const std::tuple<CommandResult, Prompt, InstallOutcome, QString> rows[] = {
        {{0, u"User cancelled. (-128)"_s}, AppleScript, Completed, {}},
        {{1, u"CANCEL"_s}, AppleScript, Cancelled, {}}, {{1, u""_s}, AppleScript, Failed, u"安装失败："_s},
        {{1, u"error 128\n"_s}, AppleScript, Failed, u"安装失败：error 128"_s},
        // pkexec is known by its status alone: its words, a failed copy's path, say nothing.
        {{126, u"Error executing command as another user: Request dismissed"_s}, Pkexec, Cancelled, {}},
        {{1, u"cp: cannot create directory '/opt/Cancel Apps/Quillmere Desktop.app'"_s}, Pkexec, Failed,
         u"安装失败：cp: cannot create directory '/opt/Cancel Apps/Quillmere Desktop.app'"_s},
        {{127, u"Error executing command as another user: Not authorized\n"_s}, Pkexec, Failed,
         u"安装失败：Error executing command as another user: Not authorized"_s},
        {{126, u"cancelled -128"_s}, None, Failed, u"安装失败：cancelled -128"_s},
    };
    for (const auto &[result, prompt, outcome, message] : rows) {
        EXPECT_EQ(classifyInstall(result, prompt), outcome) << result.output.toStdString();
        EXPECT_EQ(outcome == Failed ? installFailureMessage(result) : QString(), message);
    }
}

}  // namespace
}  // namespace quillmere
