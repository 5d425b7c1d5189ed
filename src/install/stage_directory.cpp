#include "install/stage_directory.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace quillmere {

using namespace Qt::StringLiterals;

StageDirectory createStageDirectory(const QString &temporaryFolder)
{
    const QString path = temporaryFolder + u"/quillmere-stage-"_s
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // A failure here shows up as the mkdir's below.
    QDir().mkpath(temporaryFolder);
    // mkdir, not QDir: the mode is set as the directory comes into being, and an existing
    // directory (or a link planted under the new name) makes it fail.
    if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0)
        return {{}, QString::fromLocal8Bit(std::strerror(errno))};
    return {path, {}};
}

}  // namespace quillmere
