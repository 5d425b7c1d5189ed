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

// Names from outside reach both scripts as they are, whatever they hold: shell syntax, another
// placeholder, a line break, a backslash for AppleScript. Each script runs as it would for root:
// on Linux its command line, on macOS that inside osascript's `do shell script` (here its
// stand-in). The running-copy pattern, read by pgrep and pkill as an extended regular
// expression, matches the installed executable's own command lines and nothing else.
TEST(InstallScript, ValuesArriveAsTheyAreAndThePatternMatchesOnlyTheInstalledCopy)
{
    const QString osascript = QUILLMERE_TEST_SUPPORT u"/../../tools/macos-standins/bin/osascript"_s;
    for (const QString &folder : {u"/opt/Apps"_s, u"/tmp/it's $(touch /tmp/x) `id` @ZIP@ \\ \"q\"\n[a].(b)*+?{2}|^$"_s}) {
        const QString app = folder + u"/Quillmere Desktop.app"_s, exe = app + u"/Contents/MacOS/Quillmere Desktop"_s;
        const InstallInputs inputs{app, folder + u"/@APP@.zip"_s, QByteArray(64, '\x01'), 7, 501, 20, u"/home/u"_s,
                                   folder + u"/Trash"_s, {{u"LANG"_s, u"zh_CN.UTF-8 '@SIZE@'"_s}}, folder + u"/stage"_s};
        // Each script's assignments, then what they hold, then whether each line counts as running.
        QString probe = uR"(printf '%s\n' "$APP" "$ZIP" "$SIZE" "${TRASH-}" "${CHECKED-}" "${APP_ENV[@]-}"
                            for line in)"_s;
        for (const QString &line : {exe, exe + u" --flag"_s, u"/usr/bin/vim "_s + exe, exe + u"2"_s, QString(exe).replace(u'.', u'x'),
                                    u"/opt/Other/Quillmere Desktop.app/Contents/MacOS/Quillmere Desktop"_s})
            probe += u' ' + shellQuote(line);
        probe += u"; do [[ $line =~ $RUNNING ]] && echo yes || echo no; done"_s;
        for (const auto &[script, linux] : {std::pair(linuxInstallScript(inputs), true), std::pair(macInstallScript(inputs), false)}) {
            const QString assignments = script.left(script.indexOf(linux ? u"\nEXECUTABLE="_s : u"\nWORK_PARENT="_s));
            const QStringList command = scriptCommandLine(assignments + u'\n' + probe, inputs, linux);
            const CommandResult result = linux ? run(command.first(), command.mid(1))
                                               : run(u"/usr/bin/python3"_s, QStringList{osascript} + osascriptInstallCommand(command).arguments);
            const QString values = linux ? QStringList{app, inputs.packagePath, u"7"_s, inputs.trashFolder, inputs.stagedAppPath,
                                                       u"LANG=zh_CN.UTF-8 '@SIZE@'"_s}.join(u'\n')
                                         : QStringList{app, inputs.packagePath, u"7"_s, {}, {}, {}}.join(u'\n');
            const QString expected = values + u"\nyes\nyes\nno\nno\nno\nno"_s;
            // osascript gives the output's lines with carriage returns, as AppleScript does.
            EXPECT_EQ(result.output, (linux ? expected : QString(expected).replace(u'\n', u'\r')) + u'\n')
                << (linux ? "linux " : "mac ") << folder.toStdString();
        }
    }
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
