#pragma once

#include <QString>

namespace quillmere {

// A new private directory, or why there is none.
struct PrivateDirectory {
    QString path;             // empty on failure
    QString errorDescription; // the system's words when path is empty
};

// Creates `prefix` + a new upper-case UUID in `parent` (made first if missing), with mode 0700
// from the start: what it holds is later read with administrator rights, so no other user may
// read it or swap anything in it. Fails when the name exists already, also as a link.
[[nodiscard]] PrivateDirectory createPrivateDirectory(const QString &parent, const QString &prefix);

}  // namespace quillmere
