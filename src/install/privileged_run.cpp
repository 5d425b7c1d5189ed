#include "install/privileged_run.h"

#include "install/install_script.h"
#include "install/install_texts.h"
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

ToolCommand osascriptInstallCommand(const QString &scriptPath)
{
    // The shell's quoting of the path goes inside an AppleScript string, which reads '\' and
    // '"' as its own: both are escaped for AppleScript as well. (A single quote in the path
    // makes the shell's quoting write a backslash.) Any other path gives the same bytes as
    // the shell's quoting alone.
    return {u"/usr/bin/osascript"_s,
            {u"-e"_s, u"do shell script "_s + appleScriptString(u"/bin/bash "_s + shellQuote(scriptPath))
                          + u" with administrator privileges"_s}};
}

ToolCommand linuxInstallCommand(const QString &scriptPath, bool mayWriteDirectly,
                                const QString &elevator)
{
    if (mayWriteDirectly)
        return {u"/bin/bash"_s, {scriptPath}};
    return {elevator, {u"/bin/bash"_s, scriptPath}};
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

CommandResult pkexecResult(const CommandResult &result)
{
    constexpr int dismissed = 126;
    if (result.status != dismissed)
        return result;
    return {result.status, result.output + u"\ncancelled"_s};
}

InstallOutcome classifyInstall(const CommandResult &result)
{
    if (result.status == 0)
        return InstallOutcome::Completed;
    const QString output = trimmedText(result.output);
    if (output.contains(u"-128"_s) || output.contains(u"cancel"_s, Qt::CaseInsensitive))
        return InstallOutcome::Cancelled;
    return InstallOutcome::Failed;
}

QString installFailureMessage(const CommandResult &result)
{
    return installFailureMessage(trimmedText(result.output));
}

}  // namespace quillmere
