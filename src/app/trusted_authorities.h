#pragma once

#include <QByteArray>

namespace quillmere {

// Adds the certificate authorities in `pem` to the roots that every TLS connection of this
// process trusts, keeping the system's own. Returns how many certificates were added;
// text that holds no certificate adds none and changes nothing.
qsizetype trustExtraAuthorities(const QByteArray &pem);

}  // namespace quillmere
