#include "install/install_script.h"

#include "system/texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

// The path as a POSIX extended regular expression that matches only itself.
QString literalPattern(const QString &text)
{
    QString pattern;
    for (const QChar c : text) {
        if (QStringView(u"\\^$.|?*+()[]{}").contains(c))
            pattern += u'\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace

QString shellQuote(const QString &text)
{
    return u'\'' + QString(text).replace(u"'"_s, u"'\\''"_s) + u'\'';
}

namespace {

// One of the scripts in src/install/scripts/, compiled in as a resource.
QString scriptText(const QString &name)
{
    QFile file(u":/install/scripts/"_s + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("The install script %s is not compiled in.", qPrintable(name));
    return QString::fromUtf8(file.readAll());
}

// The script `name` with own-copy.sh's text in place of the line that sources it, and each
// @NAME@ replaced by its value in one pass, so nothing a value holds is read as a placeholder.
// Every value from outside comes here shell-quoted.
QString filledScript(const QString &name, const QHash<QString, QString> &values)
{
    const QString source = u". own-copy.sh\n"_s;
    QString text = scriptText(name);
    if (!text.contains(source))
        qFatal("The install script %s does not source own-copy.sh.", qPrintable(name));
    text.replace(source, scriptText(u"own-copy.sh"_s));
    static const QRegularExpression placeholder(u"@([A-Z0-9_]+)@"_s);
    QString filled;
    qsizetype done = 0;
    for (const QRegularExpressionMatch &match : placeholder.globalMatch(text)) {
        const auto value = values.constFind(match.captured(1));
        if (value == values.constEnd())
            qFatal("The install script %s has no value for %s.", qPrintable(name),
                   qPrintable(match.captured(0)));
        filled += QStringView(text).sliced(done, match.capturedStart() - done);
        filled += *value;
        done = match.capturedEnd();
    }
    filled += QStringView(text).sliced(done);
    return filled;
}

// The installed copy's executable.
QString installedExecutable(const InstallInputs &inputs)
{
    return inputs.installPath + u"/Contents/MacOS/Quillmere Desktop"_s;
}

// The values both scripts start with.
QHash<QString, QString> commonValues(const InstallInputs &inputs)
{
    const QString running = u'^' + literalPattern(installedExecutable(inputs)) + u"( |$)"_s;
    return {{u"APP"_s, shellQuote(inputs.installPath)},
            {u"ZIP"_s, shellQuote(inputs.packagePath)},
            {u"SHA512"_s, QString::fromLatin1(inputs.packageSha512.toHex())},
            {u"SIZE"_s, QString::number(inputs.packageSize)},
            {u"RUNNING"_s, shellQuote(running)},
            {u"MISMATCH_MESSAGE"_s, shellQuote(packageMismatchMessage())}};
}

}  // namespace

QString macInstallScript(const InstallInputs &inputs)
{
    return filledScript(u"install-mac.sh"_s, commonValues(inputs));
}

QString linuxInstallScript(const InstallInputs &inputs)
{
    QStringList environment;
    for (const auto &[name, value] : inputs.appEnvironment)
        environment << shellQuote(name + u'=' + value);
    QHash<QString, QString> values = commonValues(inputs);
    values.insert(u"TRASH"_s, shellQuote(inputs.trashFolder));
    values.insert(u"TRASH_PATH"_s, shellQuote(trashInfoPath(inputs.installPath)));
    values.insert(u"GROUP_ID"_s, QString::number(inputs.groupId));
    values.insert(u"CHECKED"_s, shellQuote(inputs.stagedAppPath));
    values.insert(u"APP_ENV"_s, environment.join(u' '));
    values.insert(u"NOT_RUNNABLE_MESSAGE"_s,
                  shellQuote(notRunnableMessage(installedExecutable(inputs))));
    return filledScript(u"install-linux.sh"_s, values);
}

QStringList scriptCommandLine(const QString &script, const InstallInputs &inputs, bool linux)
{
    QStringList line{u"/usr/bin/env"_s, u"-i"_s, u"PATH=/usr/bin:/bin:/usr/sbin:/sbin"_s,
                     u"HOME="_s + inputs.home, u"USER_ID="_s + QString::number(inputs.userId)};
    if (linux)
        line << u"LC_ALL=C.UTF-8"_s;
    return line << u"/bin/bash"_s << u"-c"_s << script << u"quillmere-install"_s;
}

QString trashInfoPath(const QString &absolutePath)
{
    // toPercentEncoding keeps letters, digits and "-._~" already.
    return QString::fromLatin1(QFile::encodeName(absolutePath).toPercentEncoding("/!*'()"));
}

QString userTrashFolder(const QString &xdgDataHome, const QString &home)
{
    const QString data = QDir::isAbsolutePath(xdgDataHome) ? xdgDataHome
                                                           : home + u"/.local/share"_s;
    return data + u"/Trash"_s;
}

QList<std::pair<QString, QString>> appEnvironment(const QProcessEnvironment &environment)
{
    // The display and session bus, where the user's files are, and language and PATH so the
    // app starts as it would from the desktop.
    static const char16_t *const names[] = {u"DISPLAY", u"WAYLAND_DISPLAY", u"XAUTHORITY",
                                            u"XDG_RUNTIME_DIR", u"DBUS_SESSION_BUS_ADDRESS",
                                            u"HOME", u"LANG", u"PATH"};
    QList<std::pair<QString, QString>> picked;
    for (const char16_t *name : names) {
        const QString key = QString::fromUtf16(name);
        if (environment.contains(key))
            picked.append({key, environment.value(key)});
    }
    return picked;
}

QString installScriptPath(const QString &stageDirectory)
{
    return stageDirectory + u"/install.sh"_s;
}

std::optional<QString> writeInstallScript(const QString &path, const QString &text)
{
    // QSaveFile would write through a symbolic link to its target.
    if (QFileInfo(path).isSymLink() && ::unlink(QFile::encodeName(path).constData()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        return file.errorString();
    QFile written(path);
    if (!written.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                | QFile::ExeOther))
        return written.errorString();
    return std::nullopt;
}

}  // namespace quillmere
