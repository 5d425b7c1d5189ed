#include "platform/plist_value.h"

#include "platform/plist_reader.h"
#include "system/text.h"

namespace quillmere {

using namespace Qt::StringLiterals;

std::optional<QString> plistValue(const QString &appPath, const QString &key)
{
    const std::optional<QString> raw = readPlistValue(appPath + u"/Contents/Info.plist"_s, key);
    if (!raw)
        return std::nullopt;
    QString value = trimmedText(*raw);
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

}  // namespace quillmere
