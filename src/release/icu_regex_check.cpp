// Built on Linux only, never linked: ICU's own declarations (under their plain names, as a
// Mac's libicucore exports them) and ours in one translation unit. A C function declared twice
// with different types does not compile.
#define U_DISABLE_RENAMING 1
#include <unicode/uregex.h>

#define QUILLMERE_ICU_CHECK_DECLARATIONS
#include "release/icu_regex.h"

static_assert(UREGEX_MULTILINE == 8 && U_ZERO_ERROR == 0 && U_PARSE_CONTEXT_LEN == 16);
static_assert(sizeof(UParseError) == 2 * sizeof(int32_t) + 32 * sizeof(UChar));
