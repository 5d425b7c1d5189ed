#pragma once

#include <QString>
#include <QStringList>

namespace quillmere {

// The macOS property list tool. Its argument lists are built here, on every platform, so they
// can be checked anywhere.
inline constexpr char16_t plistBuddyPath[] = u"/usr/libexec/PlistBuddy";

// Arguments that print the value of a top-level key of the property list at plistPath.
// The key is not escaped: a ':' in it would descend into a nested dictionary.
[[nodiscard]] QStringList plistBuddyArguments(const QString &plistPath, const QString &key);

}  // namespace quillmere
