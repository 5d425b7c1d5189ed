// libFuzzer target: the update manifest parser, given what the release check would give it
// (the reply's bytes as strict UTF-8) and, for odd text, the same bytes decoded leniently.
// Aborts when a release breaks what parseRelease promises.

#include "release/manifest.h"
#include "system/text.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

using quillmere::Release;

const QUrl downloadBase(u"https://updates.quillmere.example/updates/"_s);

void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "manifest invariant broken: %s\n", what);
    std::abort();
}

bool isBase64(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')
        || c == u'+' || c == u'/' || c == u'=';
}

void check(const QString &text)
{
    const std::optional<Release> release = quillmere::parseRelease(text, downloadBase);
    if (!release)
        return;
    const Release &r = *release;
    require(!r.version.isEmpty() && quillmere::trimmedText(r.version) == r.version, "version is non-empty and trimmed");
    require(r.zipName.size() > 4 && r.zipName.endsWith(u".zip"_s)
                && quillmere::trimmedText(r.zipName) == r.zipName, "zip name is trimmed and names a .zip");

    // The package URL is the base with the name appended as path: same server, no query or
    // fragment, and a request target of printable ASCII that decodes back to the name.
    const QUrl &url = r.zipURL;
    require(url.isValid() && url.scheme() == u"https"_s && url.authority() == downloadBase.authority()
                && !url.hasQuery() && !url.hasFragment(), "zip URL is on the download server");
    const QString basePath = downloadBase.path(QUrl::FullyEncoded);
    const QString path = url.path(QUrl::FullyEncoded);
    require(path.startsWith(basePath), "zip URL is under the download folder");
    for (const QChar c : path)
        require(c.unicode() > u' ' && c.unicode() < 0x7f, "request target is printable ASCII");
    require(QByteArray::fromPercentEncoding(path.mid(basePath.size()).toLatin1()) == r.zipName.toUtf8(),
            "zip URL's path decodes to the name");

    if (r.sizeBytes)
        require(*r.sizeBytes >= 0, "size is not negative");
    if (r.sha512Base64) {
        require(!r.sha512Base64->isEmpty(), "digest is non-empty");
        for (const QChar c : *r.sha512Base64)
            require(isBase64(c), "digest is base64 text");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // The release check parses only what strict decoding yields; bytes that are not UTF-8
    // never reach the parser there.
    const std::optional<QString> strict = quillmere::decodeUtf8(bytes);
    if (strict)
        check(*strict);
    // Lenient decoding puts replacement characters where the bytes are not UTF-8.
    const QString lenient = QString::fromUtf8(bytes);
    if (!strict || lenient != *strict)
        check(lenient);
    return 0;
}
