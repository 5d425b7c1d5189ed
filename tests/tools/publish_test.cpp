#include "publish.h"

#include "support/bundles.h"
#include "download/chunk_map.h"
#include "system/command_runner.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace quillmere {
namespace {

const QString app = u"Quillmere Desktop.app"_s;

QByteArray infoPlist(const QByteArray &identifier, const QByteArray &version)
{
    return test::xmlPlist("<dict><key>CFBundleIdentifier</key><string>" + identifier
                          + "</string><key>CFBundleShortVersionString</key><string>" + version + "</string></dict>");
}

// A package is refused, and nothing written, unless it holds the product's bundle with a version.
TEST(Publish, RefusesWhatIsNotTheProductsPackage)
{
    QTemporaryDir dir;
    const QString key = dir.filePath(u"key.pem"_s);
    ASSERT_EQ(run(u"/usr/bin/openssl"_s, {u"genpkey"_s, u"-algorithm"_s, u"ed25519"_s, u"-out"_s, key}).status, 0);
    const QDateTime date(QDate(2031, 2, 3), QTime(4, 5, 6, 7), Qt::UTC);
    struct Row { const char *what; QString top; QByteArray plist; QString name = u"Q-2.0.zip"_s; QString key = {}; };
    const Row rows[] = {
        {"published", app, infoPlist("com.quillmere.desktop", " 2.0 "), u"Q-2.0.zip"_s, key},
        {"bundle nested", u"x/"_s + app, infoPlist("com.quillmere.desktop", "2.0")},
        {"bundle of another name", u"Quillmere.app"_s, infoPlist("com.quillmere.desktop", "2.0")},
        {"identifier in another case", app, infoPlist("com.Quillmere.desktop", "2.0")},
        {"no version", app, test::stringPlist("CFBundleIdentifier", u"com.quillmere.desktop"_s)},
        {"version no YAML can hold as it is", app, infoPlist("com.quillmere.desktop", "2.0\n- url: x.zip")},
        {"name with a space", app, infoPlist("com.quillmere.desktop", "2.0"), u"Q 2.0.zip"_s},
        {"key that is none", app, infoPlist("com.quillmere.desktop", "2.0"), u"Q-2.0.zip"_s, dir.filePath(u"Q-2.0.zip"_s)},
    };
    for (const Row &row : rows) {
        const QString folder = dir.filePath(QString::fromLatin1(row.what)), out = folder + u"/out"_s;
        ASSERT_TRUE(test::writeBundle(folder + u'/' + row.top, row.plist));
        ASSERT_EQ(run(u"/bin/sh"_s, {u"-c"_s, u"cd \"$1\" && zip -q -r -y \"$2\" \"${3%%/*}\""_s, u"sh"_s, folder, row.name, row.top}).status, 0);
        const PublishResult result = publishPackage({folder + u'/' + row.name, out, row.key, u"com.quillmere.desktop"_s, date});
        if (qstrcmp(row.what, "published") != 0) {
            EXPECT_FALSE(result.error.isEmpty()) << row.what;
            EXPECT_FALSE(QFileInfo::exists(out)) << row.what;
            continue;
        }
        ASSERT_EQ(result.error, QString());
        EXPECT_EQ(result.version, u"2.0"_s);
        QFile manifest(out + u"/latest-mac.yml"_s), map(out + u"/Q-2.0.zip.chunks"_s);
        ASSERT_TRUE(manifest.open(QIODevice::ReadOnly) && map.open(QIODevice::ReadOnly));
        EXPECT_TRUE(manifest.readAll().endsWith("\nreleaseDate: '2031-02-03T04:05:06.007Z'\n"));
        const std::optional<ChunkMap> chunks = readChunkMap(map.readAll());
        ASSERT_TRUE(chunks);
        EXPECT_EQ(chunks->size, QFileInfo(out + u"/Q-2.0.zip"_s).size());
        EXPECT_EQ(chunks->chunks.size(), result.chunks);
    }
    // Published again without a key, the earlier signature goes.
    EXPECT_EQ(publishPackage({dir.filePath(u"published/Q-2.0.zip"_s), dir.filePath(u"published/out"_s), {}, u"com.quillmere.desktop"_s, date}).error, QString());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(u"published/out/Q-2.0.zip.sig"_s)));
}

}  // namespace
}  // namespace quillmere
