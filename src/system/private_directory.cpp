#include "system/private_directory.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace quillmere {

PrivateDirectory createPrivateDirectory(const QString &parent, const QString &prefix)
{
    const QString path =
        parent + u'/' + prefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // A failure here shows up as the mkdir's below.
    QDir().mkpath(parent);
    // mkdir(2) itself: the mode is set as the directory comes into being, and an existing
    // directory, or a link planted under the new name, makes it fail instead of being used.
    if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0)
        return {{}, QString::fromLocal8Bit(std::strerror(errno))};
    return {path, {}};
}

}  // namespace quillmere
