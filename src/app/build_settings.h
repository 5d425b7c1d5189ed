#pragma once

#include "system/product.h"

#include <QByteArray>

namespace quillmere {

// The product settings compiled into this build (CMake cache variables).
[[nodiscard]] ProductSettings compiledProductSettings();

// The PEM text of extra certificate authorities compiled into this build; empty in a default
// build.
[[nodiscard]] QByteArray compiledExtraAuthorities();

}  // namespace quillmere
