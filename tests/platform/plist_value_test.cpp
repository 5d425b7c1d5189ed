#include "platform/plist_value.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <plist/plist.h>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// Writes contents as X.app/Contents/Info.plist below dir and returns the bundle's path.
QString writeBundle(const QTemporaryDir &dir, const QByteArray &contents)
{
    const QString app = dir.filePath(u"X.app"_s);
    EXPECT_TRUE(QDir().mkpath(app + u"/Contents"_s));
    QFile file(app + u"/Contents/Info.plist"_s);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
    return app;
}

QByteArray xmlPlist(const QByteArray &body)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)" + body + "</plist>";
}

QByteArray toBinary(const QByteArray &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &root);
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    const QByteArray binary(bytes, length);
    plist_to_bin_free(bytes);
    plist_free(root);
    return binary;
}

const QByteArray infoXml = xmlPlist(R"(<dict>
<key>Name</key><string>Quillmere Desktop
</string>
<key>Spaces</key><string>   </string>
<key>Wide</key><string>  1.2.3 　</string>
<key>Count</key><integer>42</integer>
<key>Negative</key><integer>-7</integer>
<key>Huge</key><integer>18446744073709551615</integer>
<key>Ratio</key><real>0.1</real>
<key>Yes</key><true/><key>No</key><false/>
<key>Nested</key><dict><key>Name</key><string>inner</string></dict>
<key>List</key><array><string>a</string></array>
<key>Blob</key><data>AAE=</data>
<key>When</key><date>2024-01-01T00:00:00Z</date>
</dict>)"_ba);

class PlistValue : public ::testing::TestWithParam<bool /* binary */> {};

TEST_P(PlistValue, ReadsTopLevelValuesAsTrimmedText)
{
    QTemporaryDir dir;
    const QString app = writeBundle(dir, GetParam() ? toBinary(infoXml) : infoXml);
    const struct {
        QString key;
        std::optional<QString> expected;
    } rows[] = {
        {u"Name"_s, u"Quillmere Desktop"_s}, {u"Spaces"_s, std::nullopt},
        {u"Wide"_s, u"1.2.3"_s},             {u"Count"_s, u"42"_s},
        {u"Negative"_s, u"-7"_s},            {u"Huge"_s, u"18446744073709551615"_s},
        {u"Ratio"_s, u"0.1"_s},              {u"Yes"_s, u"true"_s},
        {u"No"_s, u"false"_s},               {u"Nested"_s, std::nullopt},
        {u"List"_s, std::nullopt},           {u"Blob"_s, std::nullopt},
        {u"When"_s, std::nullopt},           {u"Missing"_s, std::nullopt},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.key.toStdString());
        EXPECT_EQ(plistValue(app, row.key), row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PlistValue, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Binary" : "Xml"; });

TEST(PlistValueFile, AbsentWithoutAReadableDictionary)
{
    const QByteArray contents[] = {
        "", "not a property list", xmlPlist("<dict><key>Name</key><string>x"),
        toBinary(xmlPlist("<dict><key>Name</key><string>x</string></dict>")).chopped(12),
        xmlPlist("<array><string>Name</string></array>"), xmlPlist("<string>Name</string>")};
    for (const QByteArray &content : contents) {
        QTemporaryDir dir;
        EXPECT_EQ(plistValue(writeBundle(dir, content), u"Name"_s), std::nullopt) << content.size();
    }
    QTemporaryDir dir;
    EXPECT_EQ(plistValue(dir.filePath(u"Missing.app"_s), u"Name"_s), std::nullopt);
}

}  // namespace
}  // namespace quillmere
