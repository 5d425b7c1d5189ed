#include "install/privileged_run.h"

#include "install/install_script.h"
#include "system/texts.h"
#include "system/text.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace quillmere {

using namespace Qt::StringLiterals;

QString appleScriptString(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'\\', u"\\\\"_s).replace(u'"', u"\\\""_s);
    return u'"' + escaped + u'"';
}

ToolCommand osascriptInstallCommand(const QStringList &commandLine)
{
    // The shell's quoting goes inside an AppleScript string, which reads '\\' and '"' as its
    // own: both are escaped for AppleScript as well. (A single quote makes the shell's quoting
    // write a backslash.)
    QStringList words;
    for (const QString &word : commandLine)
        words << shellQuote(word);
    return {u"/usr/bin/osascript"_s, {u"-e"_s, u"do shell script "_s + appleScriptString(words.join(u' '))
                                                   + u" with administrator privileges"_s}};
}

ToolCommand linuxInstallCommand(const QStringList &commandLine, bool mayWriteDirectly,
                                const QString &elevator)
{
    if (mayWriteDirectly)
        return {commandLine.first(), commandLine.mid(1)};
    return {elevator, commandLine};
}

bool mayWriteInstallFolder(const QString &installPath)
{
    const auto writable = [](const QString &path) {
        return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
    };
    const QFileInfo installed(installPath);
    // A missing install folder is made by the script: what counts is the nearest folder there is.
    QString folder = installed.absolutePath();
    while (!QFileInfo::exists(folder) && folder != QFileInfo(folder).absolutePath())
        folder = QFileInfo(folder).absolutePath();
    return writable(folder)
        && (!installed.isDir() || installed.isSymLink() || writable(installPath));
}

InstallOutcome classifyInstall(const CommandResult &result, Prompt prompt)
{
    if (result.exitCode == 0)
        return InstallOutcome::Completed;
    const QString output = trimmedText(result.output);
    const bool dismissed = prompt == Prompt::Pkexec
        ? result.exitCode == 126
        : prompt == Prompt::AppleScript
            && (output.contains(u"-128"_s) || output.contains(u"cancel"_s, Qt::CaseInsensitive));
    return dismissed ? InstallOutcome::Cancelled : InstallOutcome::Failed;
}

QString installFailureMessage(const CommandResult &result)
{
    return installFailedText(trimmedText(result.output));
}

}  // namespace quillmere
