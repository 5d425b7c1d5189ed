#include "release/manifest.h"

#include "system/text.h"

#include "release/icu_regex.h"

#include <cstdint>
#include <limits>
#include <memory>

namespace quillmere {
namespace {

// The manifest is not read as YAML. Each pattern runs over the whole text in multi-line mode,
// so `^` also follows every line break and `\s*` may carry a value over onto the next line.
constexpr char16_t versionPattern[] = uR"(^version:\s*(\S+))";
constexpr char16_t zipPattern[] = uR"(- url:\s*(\S+\.zip))";       // the manifest may list a blockmap or dmg first
constexpr char16_t sizePattern[] = uR"(^\s+size:\s*(\d+))";        // indented, i.e. inside a file entry
constexpr char16_t sha512Pattern[] = uR"(sha512:\s*([A-Za-z0-9+/=]+))"; // a quoted digest is skipped

// A search gives up after about this many milliseconds of matching. Runs of blank lines make
// `^\s+` backtrack from every line start, quadratic in the run's length; a manifest that
// needs this long is not one the server meant to send, and the window must not freeze on it.
constexpr std::int32_t searchStepLimit = 1000;

struct RegexCloser {
    void operator()(URegularExpression *re) const { uregex_close(re); }
};
using Regex = std::unique_ptr<URegularExpression, RegexCloser>;

// Group 1 of the leftmost match of pattern in text, trimmed; nothing if there is none.
std::optional<QString> firstCapture(const char16_t *pattern, const QString &text)
{
    if (text.size() > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;

    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    const Regex re(uregex_open(pattern, -1, UREGEX_MULTILINE, &parseError, &status));
    if (U_FAILURE(status) || !re)
        return std::nullopt;

    // ICU refuses a null pointer even for no text, and keeps the pointer: text outlives re.
    static constexpr UChar noText[] = u"";
    const UChar *chars = text.isEmpty() ? noText : reinterpret_cast<const UChar *>(text.constData());
    uregex_setText(re.get(), chars, static_cast<std::int32_t>(text.size()), &status);
    uregex_setTimeLimit(re.get(), searchStepLimit, &status); // a time-out counts as no match
    if (U_FAILURE(status) || !uregex_find(re.get(), 0, &status) || U_FAILURE(status))
        return std::nullopt;

    const std::int32_t start = uregex_start(re.get(), 1, &status);
    const std::int32_t end = uregex_end(re.get(), 1, &status);
    if (U_FAILURE(status) || start < 0 || end < start) // -1: the group took no part
        return std::nullopt;
    return trimmedText(text.mid(start, end - start));
}

// The name becomes path text under the base: whatever cannot stand in a path ('#', '?', '%',
// spaces, non-ASCII) is percent-encoded, so it still names a file in that folder. Its '/' stay
// separators, and a name that looks like a whole URL is just more path.
QUrl appendPathComponent(const QUrl &base, const QString &name)
{
    // Work on the encoded path so that escapes already in the base survive unchanged.
    QString path = base.path(QUrl::FullyEncoded);
    if (!path.endsWith(u'/'))
        path += u'/';
    path += QString::fromLatin1(QUrl::toPercentEncoding(name, "!$&'()*+,;=:@/"));
    QUrl url = base;
    url.setPath(path, QUrl::StrictMode);
    return url;
}

}  // namespace

std::optional<Release> parseRelease(const QString &manifestText, const QUrl &downloadBase)
{
    std::optional<QString> version = firstCapture(versionPattern, manifestText);
    if (!version)
        return std::nullopt;
    std::optional<QString> zipName = firstCapture(zipPattern, manifestText);
    if (!zipName)
        return std::nullopt;

    Release release;
    release.version = *version;
    release.zipURL = appendPathComponent(downloadBase, *zipName);
    release.zipName = *zipName;
    if (const std::optional<QString> size = firstCapture(sizePattern, manifestText))
        release.sizeBytes = parseSize(*size);
    release.sha512Base64 = firstCapture(sha512Pattern, manifestText);
    return release;
}

}  // namespace quillmere
