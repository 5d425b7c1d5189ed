#include "platform/plist_value.h"

#include "support/bundles.h"

#include <QTemporaryDir>

#include <plist/plist.h>

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

using test::xmlPlist;

// The same property list in Apple's binary format, as libplist writes it.
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
<key>Spaces</key><string>   </string><key>Wide</key><string>  1.2.3 　</string>
<key>Count</key><integer>-7</integer><key>Huge</key><integer>18446744073709551615</integer><key>Ratio</key><real>0.1</real>
<key>Yes</key><true/><key>Nested</key><dict><key>Name</key><string>inner</string></dict><key>Blob</key><data>AAE=</data>
</dict>)"_ba);

// Top-level values as trimmed text, from either format; absent without a readable dictionary.
TEST(PlistValue, ReadsTopLevelValuesAsTrimmedText)
{
    QTemporaryDir app;
    const std::pair<QString, std::optional<QString>> rows[] = {
        {u"Name"_s, u"Quillmere Desktop"_s}, {u"Spaces"_s, std::nullopt}, {u"Wide"_s, u"1.2.3"_s},
        {u"Count"_s, u"-7"_s}, {u"Huge"_s, u"18446744073709551615"_s}, {u"Ratio"_s, u"0.1"_s}, {u"Yes"_s, u"true"_s},
        {u"Nested"_s, std::nullopt}, {u"Blob"_s, std::nullopt}, {u"Missing"_s, std::nullopt},
    };
    for (const QByteArray &info : {infoXml, toBinary(infoXml)}) {
        ASSERT_TRUE(test::writeBundle(app.path(), info));
        for (const auto &[key, expected] : rows)
            EXPECT_EQ(plistValue(app.path(), key), expected) << key.toStdString() << info.startsWith("bplist");
    }
    for (const QByteArray &content : {""_ba, "not a property list"_ba, xmlPlist("<array><string>Name</string></array>")}) {
        ASSERT_TRUE(test::writeBundle(app.path(), content));
        EXPECT_EQ(plistValue(app.path(), u"Name"_s), std::nullopt) << content.toStdString();
    }
    EXPECT_EQ(plistValue(u"/nonexistent/Missing.app"_s, u"Name"_s), std::nullopt);
}

}  // namespace
}  // namespace quillmere
