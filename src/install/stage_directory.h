#pragma once

#include <QString>

namespace quillmere {

// A new stage directory, or why there is none.
struct StageDirectory {
    QString path;             // empty on failure
    QString errorDescription; // the system's words when path is empty
};

// Creates "quillmere-stage-" + a new upper-case UUID in temporaryFolder (made first if
// missing), readable by its owner only: it will hold a script run with administrator rights.
[[nodiscard]] StageDirectory createStageDirectory(const QString &temporaryFolder);

}  // namespace quillmere
