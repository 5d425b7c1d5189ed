#include "publish.h"

#include "support/bundles.h"
#include "system/command_runner.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace quillmere {
namespace {

// A package is refused, and nothing written, unless it holds the product's bundle with a version.
TEST(Publish, RefusesWhatIsNotTheProductsPackage)
{
    QTemporaryDir dir;
    const QString key = dir.filePath(u"key.pem"_s), app = u"Quillmere Desktop.app"_s;
    ASSERT_EQ(run(u"/usr/bin/openssl"_s, {u"genpkey"_s, u"-algorithm"_s, u"ed25519"_s, u"-out"_s, key}).exitCode, 0);
    const auto plist = [](const QByteArray &identifier, const QByteArray &version) {
        return test::xmlPlist("<dict><key>CFBundleIdentifier</key><string>" + identifier + "</string><key>CFBundleShortVersionString</key><string>" + version + "</string></dict>");
    };
    struct Row { const char *what; QString top; QByteArray plist; QString name = u"Q-2.0.zip"_s; QString key = {}; };
    const Row rows[] = {
        {"published", app, plist("com.quillmere.desktop", " 2.0 "), u"Q-2.0.zip"_s, key},
        {"bundle nested", u"x/"_s + app, plist("com.quillmere.desktop", "2.0")},
        {"bundle of another name", u"Quillmere.app"_s, plist("com.quillmere.desktop", "2.0")},
        {"identifier in another case", app, plist("com.Quillmere.desktop", "2.0")},
        {"no version", app, test::stringPlist("CFBundleIdentifier", u"com.quillmere.desktop"_s)},
        {"a version no manifest can hold as it is", app, plist("com.quillmere.desktop", "2.0\n- url: x.zip")},
        {"a name with a space", app, plist("com.quillmere.desktop", "2.0"), u"Q 2.0.zip"_s},
        {"a key that is none", app, plist("com.quillmere.desktop", "2.0"), u"Q-2.0.zip"_s, dir.filePath(u"Q-2.0.zip"_s)},
    };
    const QDateTime date(QDate(2031, 2, 3), QTime(4, 5, 6, 7), Qt::UTC);
    for (const Row &row : rows) {
        const QString folder = dir.filePath(QString::fromLatin1(row.what));
        ASSERT_TRUE(test::writeBundle(folder + u'/' + row.top, row.plist));
        ASSERT_EQ(run(u"/bin/sh"_s, {u"-c"_s, u"cd \"$1\" && zip -q -r -y \"$2\" \"${3%%/*}\""_s, u"sh"_s, folder, row.name, row.top}).exitCode, 0);
        const bool published = row.key == key;
        EXPECT_EQ(publishPackage({folder + u'/' + row.name, folder + u"/out"_s, row.key, u"com.quillmere.desktop"_s, date}).error.isEmpty(), published) << row.what;
        EXPECT_EQ(QFileInfo::exists(folder + u"/out"_s), published) << row.what;
    }
    QFile manifest(dir.filePath(u"published/out/latest-mac.yml"_s));
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    const QByteArray text = manifest.readAll();
    EXPECT_TRUE(text.startsWith("version: 2.0\n") && text.endsWith("\nreleaseDate: '2031-02-03T04:05:06.007Z'\n")) << text.constData();
    // Published again without a key, the earlier signature goes.
    EXPECT_EQ(publishPackage({dir.filePath(u"published/Q-2.0.zip"_s), dir.filePath(u"published/out"_s), {}, u"com.quillmere.desktop"_s, date}).error, QString());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(u"published/out/Q-2.0.zip.sig"_s)));
}

}  // namespace
}  // namespace quillmere
