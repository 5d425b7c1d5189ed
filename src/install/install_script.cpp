#include "install/install_script.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

// The root side's first steps, on both platforms, in a folder made in WORK_PARENT. HASH prints
// the hexadecimal digest of the file it is given first; UNPACK extracts package.zip into stage.
// Where the script has only the user's own rights, OWN_COPY is "no" and STAGED the bundle the
// installer checked.
constexpr char16_t ownCopy[] = uR"sh(
# Whoever runs this with more rights than the user touches nothing the user could have changed
# since the installer's checks: the package is copied into a folder of its own (no more than the
# downloaded size), checked against the digest taken as it was downloaded, and unpacked there.
if [ "$OWN_COPY" = yes ]; then
  umask 022
  WORK=$(/usr/bin/mktemp -d "$WORK_PARENT/.quillmere-install.XXXXXXXX")
  trap '/bin/rm -rf -- "$WORK"' EXIT
  /usr/bin/head -c "$((SIZE + 1))" -- "$ZIP" >"$WORK/package.zip"
  DIGEST=$(HASH "$WORK/package.zip")
  if [ "${DIGEST%% *}" != "$SHA512" ]; then
    echo "下载的文件与发布信息不符，请重试。" >&2
    exit 1
  fi
  /bin/mkdir "$WORK/stage"
  UNPACK
  /usr/bin/find "$WORK/stage" ! -type l -exec /bin/chmod ug-s,go-w {} +
  STAGED="$WORK/stage/Quillmere Desktop.app"
fi
)sh";

// The macOS script after its variables and the root side's first steps. The tail repeats the
// product's name on purpose: it names the process to stop and the backup, whatever the bundle
// is called.
constexpr char16_t macTail[] = uR"sh(
# A translocated copy is read-only; the running process must exit first.
/usr/bin/osascript -e 'tell application "Quillmere Desktop" to quit' >/dev/null 2>&1 || true
sleep 2
/usr/bin/pkill -U "$USER_ID" -f "$RUNNING" >/dev/null 2>&1 || true
sleep 1

if [ -d "$APP" ]; then
  BACKUP="$HOME/.Trash/Quillmere Desktop.$(date +%Y%m%d%H%M%S).app"
  /bin/mv "$APP" "$BACKUP"
fi

if ! /usr/bin/ditto "$STAGED" "$APP"; then
  # A failed copy must not leave the user without the app: the previous one comes back.
  if [ -d "$APP" ] && [ ! -L "$APP" ]; then /bin/rm -rf "$APP"; fi
  if [ -n "${BACKUP:-}" ]; then /bin/mv "$BACKUP" "$APP"; fi
  exit 1
fi
# The user's, as a dragged-in application is: its own updater replaces it as the user.
chown -R -h "$USER_ID" "$APP"

# Without this the app runs translocated from a read-only copy and Squirrel
# can never replace it, so in-app updates would fail forever.
/usr/bin/xattr -dr com.apple.quarantine "$APP" 2>/dev/null || true)sh";

// The Linux script after its variables, before the root side's first steps.
constexpr char16_t linuxStart[] = uR"sh(EXECUTABLE="$APP/Contents/MacOS/Quillmere Desktop"

# Run as root for another user, whatever goes into the user's Trash is made as that user, and
# the new copy is started as that user: never with the administrator's rights.
if [ "$(/usr/bin/id -u)" = "$USER_ID" ]; then
  AS_USER=()
else
  AS_USER=(/usr/bin/setpriv --reuid="$USER_ID" --regid="$GROUP_ID" --init-groups --)
fi

# A fresh install may find no install folder yet: it is made as the user where the user may
# make it, otherwise with the rights this script runs with.
FOLDER=$(/usr/bin/dirname -- "$APP")
if [ ! -d "$FOLDER" ]; then
  "${AS_USER[@]}" /bin/mkdir -p -- "$FOLDER" 2>/dev/null || /bin/mkdir -p -- "$FOLDER"
fi
# With the user's own rights (no password was asked, or the user is root), the script can do
# nothing the user could not: the bundle the installer checked is installed as it is. With more,
# the package is unpacked beside the install path, so that installing it is a rename, where no
# one but this script's user may write; otherwise in /tmp, and copied.
OWN_COPY=yes
if [ ${#AS_USER[@]} -eq 0 ]; then
  OWN_COPY=no
  STAGED=$CHECKED
  INSTALL=(/bin/mv -T)
elif ! "${AS_USER[@]}" /usr/bin/test -w "$FOLDER"; then
  WORK_PARENT=$FOLDER
  INSTALL=(/bin/mv -T)
else
  WORK_PARENT=/tmp
  INSTALL=(/bin/cp -a -T)
fi
)sh";

// The Linux script after the root side's first steps.
constexpr char16_t linuxBody[] = uR"sh(

# The user's running copy must exit first; it gets 3 seconds.
/usr/bin/pkill -U "$USER_ID" -f -- "$RUNNING" >/dev/null 2>&1 || true
for _ in {1..30}; do
  /usr/bin/pgrep -U "$USER_ID" -f -- "$RUNNING" >/dev/null 2>&1 || break
  /bin/sleep 0.1
done

# The previous copy goes to the Trash under a time-stamped name. Its info file comes first and
# claims the name (it is created only if it does not exist yet), so the Trash never holds a
# copy it cannot put back.
taken() { [ -e "$1" ] || [ -L "$1" ]; }
BACKUP=
INFO=
if [ -d "$APP" ]; then
  "${AS_USER[@]}" /bin/mkdir -p -m 700 -- "$TRASH" "$TRASH/files" "$TRASH/info"
  STAMP=$(/bin/date +%Y%m%d%H%M%S)
  while taken "$TRASH/files/Quillmere Desktop.$STAMP.app" ||
      taken "$TRASH/info/Quillmere Desktop.$STAMP.app.trashinfo"; do
    /bin/sleep 1
    STAMP=$(/bin/date +%Y%m%d%H%M%S)
  done
  BACKUP="$TRASH/files/Quillmere Desktop.$STAMP.app"
  INFO="$TRASH/info/Quillmere Desktop.$STAMP.app.trashinfo"
  DELETED="${STAMP:0:4}-${STAMP:4:2}-${STAMP:6:2}T${STAMP:8:2}:${STAMP:10:2}:${STAMP:12:2}"
  printf '[Trash Info]\nPath=%s\nDeletionDate=%s\n' "$TRASH_PATH" "$DELETED" |
    "${AS_USER[@]}" /bin/bash -c 'set -o noclobber; /bin/cat >"$1"' bash "$INFO"
  if ! /bin/mv -T -- "$APP" "$BACKUP"; then
    "${AS_USER[@]}" /bin/rm -f -- "$INFO"
    exit 1
  fi
fi

# A failed copy must not leave the user without the app: the half-made copy goes and the
# previous one comes back out of the Trash. (A directory at APP can only be cp's own here.)
if ! "${INSTALL[@]}" -- "$STAGED" "$APP"; then
  if [ -d "$APP" ] && [ ! -L "$APP" ]; then /bin/rm -rf -- "$APP"; fi
  if [ -n "$BACKUP" ]; then
    /bin/mv -T -- "$BACKUP" "$APP"
    "${AS_USER[@]}" /bin/rm -f -- "$INFO"
  fi
  exit 1
fi

# Started as the user in a session of its own, with the user's desktop session and nothing of
# this script's output: whoever runs the script reads that to its end, and the app would hold
# it open.
if [ ! -f "$EXECUTABLE" ] || ! "${AS_USER[@]}" /usr/bin/test -x "$EXECUTABLE"; then
  echo "无法启动：$EXECUTABLE 不存在或不可执行。" >&2
  exit 1
fi
/usr/bin/env -i "${APP_ENV[@]}" /usr/bin/setsid -f "${AS_USER[@]}" "$EXECUTABLE" \
  </dev/null >/dev/null 2>&1
)sh";

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

// The variables both scripts start with, and the root side's first steps with the platform's
// digest and unpacking tools.
QString scriptHead(const InstallInputs &inputs, const QString &start, const QString &hash,
                   const QString &unpack)
{
    const QString executable = inputs.installPath + u"/Contents/MacOS/Quillmere Desktop"_s;
    return u"#!/bin/bash\nset -euo pipefail\nAPP="_s + shellQuote(inputs.installPath)
        + u"\nZIP="_s + shellQuote(inputs.packagePath)
        + u"\nSHA512="_s + QString::fromLatin1(inputs.packageSha512.toHex())
        + u"\nSIZE="_s + QString::number(inputs.packageSize)
        + u"\n# The command line of a copy started from APP, and nothing else.\nRUNNING="_s
        + shellQuote(u'^' + literalPattern(executable) + u"( |$)"_s) + u'\n' + start
        + QString::fromUtf16(ownCopy).replace(u"HASH"_s, hash).replace(u"UNPACK"_s, unpack);
}

}  // namespace

QString macInstallScript(const InstallInputs &inputs)
{
    return scriptHead(inputs, u"WORK_PARENT=/tmp\nOWN_COPY=yes\n"_s, u"/usr/bin/shasum -a 512"_s,
                      u"/usr/bin/ditto -x -k \"$WORK/package.zip\" \"$WORK/stage\""_s)
        + QString::fromUtf16(macTail);
}

QString linuxInstallScript(const InstallInputs &inputs)
{
    QStringList environment;
    for (const auto &[name, value] : inputs.appEnvironment)
        environment << shellQuote(name + u'=' + value);
    // bsdtar as the installer's own extraction: the archive's owners and set-id bits dropped
    // even as root, modes through the umask, no entry outside the folder or through a link.
    const QString variables = u"TRASH="_s + shellQuote(inputs.trashFolder)
        + u"\n# The install path as the Trash's info file records it.\nTRASH_PATH="_s
        + shellQuote(trashInfoPath(inputs.installPath))
        + u"\nGROUP_ID="_s + QString::number(inputs.groupId)
        + u"\n# The bundle the installer checked, in the user's stage directory.\nCHECKED="_s
        + shellQuote(inputs.stagedAppPath)
        + u"\nAPP_ENV=("_s + environment.join(u' ') + u")\n"_s;
    return scriptHead(inputs, variables + QString::fromUtf16(linuxStart), u"/usr/bin/openssl dgst -sha512 -r"_s,
                      u"/usr/bin/bsdtar -x --no-same-owner --no-same-permissions -f \"$WORK/package.zip\" -C \"$WORK/stage\""_s)
        + QString::fromUtf16(linuxBody);
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
