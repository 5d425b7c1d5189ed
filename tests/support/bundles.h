#pragma once

#include <QMap>
#include <QString>

namespace quillmere::test {

// Writes a minimal application bundle at `appPath` whose Contents/Info.plist (XML) holds the
// given string keys. Returns whether it was written.
bool writeBundle(const QString &appPath, const QMap<QString, QString> &stringKeys);

}  // namespace quillmere::test
