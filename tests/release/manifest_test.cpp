#include "release/manifest.h"
#include "release/package_entry.h"
#include "install/package_check.h"

#include "support/printing.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace quillmere {
namespace {

const QUrl base(u"https://updates.quillmere.example/updates/"_s);
const QString zip = u"Quillmere-Desktop-1.4.2-arm64-mac.zip"_s;
const QString dmgEntry = u"  - url: Quillmere-Desktop-1.4.2-arm64.dmg\n    sha512: Kp0aBcD4+/eF9g==\n    size: 161480704\n"_s;

// Each field is its pattern's first match in the whole text, whatever the line breaks.
TEST(Manifest, Fields)
{
    const QString v = u"version: 1\n- url: a.zip\n"_s;
    const QString zipIn = u"  - url: a.zip\n    size: 7\n    sha512: Zip=\n"_s, dmgIn = u"  - url: a.dmg\n    size: 5\n    sha512: Dmg=\n"_s;
    const std::pair<QString, std::string> rows[] = { // found as "version zip size sha512", "-" if absent
        {u""_s, "none"}, {u"Version: 1\n- url: a.zip"_s, "none"}, {u"version: 1\n-  url: a.zip"_s, "none"},
        {u" version: 1\n- url: a.zip"_s, "none"}, {u"version: 1\n- url: A.ZIP\n- url: a b.zip"_s, "none"},
        {u"version:\nfiles:\n- url:\n  a.zip.blockmap"_s, "files: a.zip - -"}, {u"version: '2.0.0' \t\n- url: a.zip"_s, "'2.0.0' a.zip - -"},
        // The first size and digest, even where another file's entry comes first.
        {u"version: 1\n"_s + zipIn + dmgIn, "1 a.zip 7 Zip="}, {u"version: 1\n"_s + dmgIn + zipIn, "1 a.zip 5 Dmg="},
        // A quoted digest is skipped; sizes are whole ASCII numbers that fit, indented, first match.
        {v + u"  size: 00042\nsha512: 'AB=='\nsha512: CD/+=="_s, "1 a.zip 42 CD/+=="}, {v + u"  size: 12.5"_s, "1 a.zip 12 -"},
        {v + u"  size: 9223372036854775807"_s, "1 a.zip 9223372036854775807 -"}, {v + u"  size: 9223372036854775808"_s, "1 a.zip - -"},
        {v + u"  size: \u0664\u0662"_s, "1 a.zip - -"}, {v + u"  size: -5\n  size: 7"_s, "1 a.zip 7 -"},
        {v + u"size: 5\n  sha512: \"CD==\""_s, "1 a.zip - -"}, {v + u"\nsize: 5"_s, "1 a.zip 5 -"},
    };
    const auto found = [](const QString &text) {
        const std::optional<Release> r = parseRelease(text, base);
        return (!r ? u"none"_s : r->version + u' ' + r->zipName + u' ' + (r->sizeBytes ? QString::number(*r->sizeBytes) : u"-"_s)
                    + u' ' + r->sha512Base64.value_or(u"-"_s)).toStdString();
    };
    for (const QString &lineBreak : {u"\n"_s, u"\r\n"_s, u"\r"_s, u"\u0085"_s, u"\u2028"_s, u"\u2029"_s, u"\v"_s, u"\f"_s})
        for (const auto &[text, want] : rows)
            EXPECT_EQ(found(QString(text).replace(u'\n', lineBreak)), want) << text.toStdString() << int(lineBreak[0].unicode());
    // Without a limit this size search backtracks for minutes; it gives up and the size is absent.
    EXPECT_EQ(found(v + QString(200000, u'\n') + u"x"_s), "1 a.zip - -");
}

TEST(Manifest, ZipNameIsOnePathComponentUnderTheBase)
{
    const std::pair<QString, std::string> rows[] = {
        {u"a#b.zip"_s, "a%23b.zip"}, {u"50%.zip"_s, "50%25.zip"}, {u"x?y.zip"_s, "x%3Fy.zip"},
        {u"\u00FC.zip"_s, "%C3%BC.zip"}, {u"https://evil/x.zip"_s, "https://evil/x.zip"},
    };
    for (const QUrl &folder : {base, QUrl(u"https://updates.quillmere.example/updates"_s)})
        for (const auto &[name, path] : rows) // the base with or without its last slash
            EXPECT_EQ(parseRelease(u"version: 1\n- url: "_s + name, folder).value_or(Release{}).zipURL
                          .toString(QUrl::FullyEncoded).toStdString(),
                      "https://updates.quillmere.example/updates/" + path);
}

TEST(Manifest, ThePackagesOwnEntry)
{
    const std::pair<QString, std::optional<PackageEntry>> rows[] = {
        {u"files:\n"_s + dmgEntry + u"path: "_s + zip + u"\nsha512: Top+=="_s, PackageEntry{std::nullopt, u"Top+=="_s}},
        {u"files:\n  - url: "_s + zip + u"\n    size: 12\n"_s, PackageEntry{12, std::nullopt}}, {u"files:\n  - url: "_s + zip + u"\n    size: +12\n"_s, std::nullopt},
        {u"files:\n"_s + dmgEntry + u"path: x.dmg\nsha512: Kp0a=="_s, std::nullopt},
        // Nothing to check against; not YAML.
        {u"files:\n  - url: "_s + zip + u"\n"_s, std::nullopt}, {u"files: ["_s + zip, std::nullopt},
    };
    for (const auto &[text, entry] : rows)
        EXPECT_EQ(findPackageEntry(u"version: 1.4.2\n"_s + text, zip), entry) << text.toStdString();
}

// The package (10 bytes) against its entry: only a real SHA-512 makes the entry count, and then
// its size too where given; a placeholder or no digest checks nothing.
TEST(PackageCheck, TheEntryCountsOnlyWithARealDigest)
{
    const QByteArray digest(64, '\x5a');
    const QString good = QString::fromLatin1(digest.toBase64());
    const std::tuple<std::optional<qint64>, std::optional<QString>, QByteArray, bool> rows[] = {
        {10, good, digest, true}, {std::nullopt, good, digest, true}, {11, good, digest, false},
        {10, good, QByteArray(64, '\x5b'), false}, {10, good, QByteArray(), false}, // no digest could be made
        {11, std::nullopt, {}, true}, {11, good + u"!"_s, {}, true}, {11, u"9fQx1Z2c+Lw/Ab3dEe=="_s, {}, true},
        {11, QString::fromLatin1(digest.left(63).toBase64()), digest.left(63), true},
    };
    for (const auto &[size, sha512, actual, matches] : rows) {
        const std::optional<ExpectedPackage> expected = expectedPackage(size, sha512);
        EXPECT_EQ(!expected || packageMatches(*expected, 10, actual), matches) << sha512.value_or(u"-"_s).toStdString();
    }
}

}  // namespace
}  // namespace quillmere
