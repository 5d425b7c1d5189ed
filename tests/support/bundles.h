#pragma once

#include <QDir>
#include <QFile>

namespace quillmere::test {

// An XML property list whose top-level value is `body`, e.g. "<dict>…</dict>".
inline QByteArray xmlPlist(const QByteArray &body)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)" + body + "</plist>";
}

// The same with a top-level dictionary holding one string.
inline QByteArray stringPlist(const QByteArray &key, const QString &value)
{
    return xmlPlist("<dict><key>" + key + "</key><string>" + value.toHtmlEscaped().toUtf8() + "</string></dict>");
}

// Writes a minimal application bundle at `appPath`: a folder with `infoPlist` as its
// Contents/Info.plist. Returns whether it was written.
inline bool writeBundle(const QString &appPath, const QByteArray &infoPlist)
{
    QFile file(appPath + QStringLiteral("/Contents/Info.plist"));
    return QDir().mkpath(appPath + QStringLiteral("/Contents")) && file.open(QIODevice::WriteOnly)
        && file.write(infoPlist) == infoPlist.size();
}

}  // namespace quillmere::test
