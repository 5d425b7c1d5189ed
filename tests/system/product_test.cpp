#include "system/product.h"

#include "app/build_settings.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(Product, CompiledInProductIsUsable)
{
    const auto product = makeProduct(compiledProductSettings());
    ASSERT_TRUE(product);
    EXPECT_EQ(product->appName, u"Quillmere Desktop"_s);
    EXPECT_EQ(product->installPath, u"/Applications/Quillmere Desktop.app"_s);
    EXPECT_TRUE(product->downloadBase.path().endsWith(u"/updates/"_s));
    EXPECT_EQ(product->downloadBase.resolved(QUrl(u"latest-mac.yml"_s)), product->metadataURL);
    EXPECT_FALSE(product->bundleId.isEmpty());
}

TEST(Product, InstallPathFollowsTheConfiguredFolder)
{
    const auto product = makeProduct({u"https://h.example/updates/latest-mac.yml"_s,
                                      u"https://h.example/updates/"_s, u"id"_s, u"/tmp/apps dir"_s});
    ASSERT_TRUE(product);
    EXPECT_EQ(product->installPath, u"/tmp/apps dir/Quillmere Desktop.app"_s);
}

TEST(Product, OnlyAbsoluteHttpsUrlsAreAccepted)
{
    const struct {
        const char *text;
        bool accepted;
    } rows[] = {
        {"https://updates.example/updates/", true},
        {"https://127.0.0.1:8443/updates/latest-mac.yml", true},
        {"", false},
        {"not a url", false},
        {"updates/latest-mac.yml", false},
        {"http://updates.example/updates/", false}, // the manifest decides what runs as admin
        {"ftp://updates.example/updates/", false},
        {"https:///updates/", false},
        {"https://exa mple.com/updates/", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseServerUrl(QString::fromUtf8(row.text)).has_value(), row.accepted);
        const auto product = makeProduct({QString::fromUtf8(row.text), u"https://h.example/updates/"_s,
                                          u"id"_s, u"/Applications"_s});
        EXPECT_EQ(product.has_value(), row.accepted);
    }
}

}  // namespace
}  // namespace quillmere
