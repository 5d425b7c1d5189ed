#include "system/product.h"

#include "app/build_settings.h"

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(Product, CompiledInProductIsUsable)
{
    const auto product = makeProduct(compiledProductSettings());
    ASSERT_TRUE(product);
    EXPECT_EQ(product->installPath, u"/Applications/Quillmere Desktop.app"_s);
    EXPECT_EQ(product->downloadBase.resolved(QUrl(u"latest-mac.yml"_s)), product->metadataURL);
}

TEST(Product, OnlyAbsoluteHttpsUrlsAreAccepted)
{
    const std::pair<const char *, bool> rows[] = {
        {"https://updates.example/updates/", true},
        {"https://127.0.0.1:8443/updates/latest-mac.yml", true},
        {"", false},
        {"not a url", false},
        {"updates/latest-mac.yml", false},
        {"http://updates.example/updates/", false},  // the manifest decides what runs as admin
        {"ftp://updates.example/updates/", false},
        {"https:///updates/", false},
        {"https://exa mple.com/updates/", false},
    };
    for (const auto &[text, accepted] : rows)
        EXPECT_EQ(parseServerURL(QString::fromUtf8(text)).has_value(), accepted) << text;
    // Either URL alone stops the product.
    const QString good = u"https://h.example/updates/"_s, plain = u"http://h.example/updates/"_s;
    EXPECT_FALSE(makeProduct({plain + u"latest-mac.yml"_s, good, u"id"_s, u"/Applications"_s, {}}));
    EXPECT_FALSE(makeProduct({good + u"latest-mac.yml"_s, plain, u"id"_s, u"/Applications"_s, {}}));
    // A package key must be the Base64 of 32 bytes.
    EXPECT_FALSE(makeProduct({good + u"latest-mac.yml"_s, good, u"id"_s, u"/Applications"_s, u"AAAA"_s}));
}

}  // namespace
}  // namespace quillmere
