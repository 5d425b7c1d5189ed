#pragma once

// The C regular-expression functions of ICU that the manifest parser uses.
//
// On a Mac they come from the system's libicucore, which exports ICU's C API under its plain
// names but ships without headers; so the few functions used are declared here, as ICU's
// uregex.h declares them, and the installer's bundle carries no ICU of its own. Elsewhere the
// distribution's ICU and its headers are used. icu_regex_check.cpp compiles these declarations
// against ICU's own headers on Linux, where a mismatch stops the build.
#if defined(__APPLE__) || defined(QUILLMERE_ICU_CHECK_DECLARATIONS)

#include <cstdint>

#ifndef QUILLMERE_ICU_CHECK_DECLARATIONS
using UChar = char16_t;
using UBool = std::int8_t;
enum UErrorCode : int { U_ZERO_ERROR = 0 };  // above zero: a failure
struct UParseError {
    std::int32_t line;
    std::int32_t offset;
    UChar preContext[16];
    UChar postContext[16];
};
struct URegularExpression;
enum URegexpFlag : int { UREGEX_MULTILINE = 8 };
inline bool U_FAILURE(UErrorCode code) { return code > U_ZERO_ERROR; }
#endif

extern "C" {
URegularExpression *uregex_open(const UChar *pattern, std::int32_t patternLength,
                                std::uint32_t flags, UParseError *pe, UErrorCode *status);
void uregex_close(URegularExpression *regexp);
void uregex_setText(URegularExpression *regexp, const UChar *text, std::int32_t textLength,
                    UErrorCode *status);
void uregex_setTimeLimit(URegularExpression *regexp, std::int32_t limit, UErrorCode *status);
UBool uregex_find(URegularExpression *regexp, std::int32_t startIndex, UErrorCode *status);
std::int32_t uregex_start(URegularExpression *regexp, std::int32_t groupNum, UErrorCode *status);
std::int32_t uregex_end(URegularExpression *regexp, std::int32_t groupNum, UErrorCode *status);
}

#else
#include <unicode/uregex.h>
#endif
