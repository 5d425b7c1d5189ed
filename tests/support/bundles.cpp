#include "support/bundles.h"

#include <QDir>
#include <QFile>

namespace quillmere::test {

using namespace Qt::StringLiterals;

bool writeBundle(const QString &appPath, const QMap<QString, QString> &stringKeys)
{
    if (!QDir().mkpath(appPath + u"/Contents"_s))
        return false;
    QString xml = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"_s;
    for (auto it = stringKeys.begin(); it != stringKeys.end(); ++it)
        xml += u"  <key>%1</key>\n  <string>%2</string>\n"_s.arg(it.key().toHtmlEscaped(),
                                                                 it.value().toHtmlEscaped());
    xml += u"</dict>\n</plist>\n"_s;
    QFile file(appPath + u"/Contents/Info.plist"_s);
    return file.open(QIODevice::WriteOnly) && file.write(xml.toUtf8()) > 0;
}

}  // namespace quillmere::test
