#include "system/product.h"

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

// The manifest decides what runs as administrator: it comes over HTTPS or not at all.
TEST(Product, OnlyAbsoluteHttpsUrlsAreAccepted)
{
    const std::pair<const char *, bool> rows[] = {
        {"https://updates.example/updates/", true}, {"https://127.0.0.1:8443/updates/latest-mac.yml", true}, {"", false},
        {"updates/latest-mac.yml", false}, {"http://updates.example/updates/", false}, {"https:///updates/", false},
        {"https://exa mple.com/updates/", false},
    };
    for (const auto &[text, accepted] : rows)
        EXPECT_EQ(parseServerURL(QString::fromUtf8(text)).has_value(), accepted) << text;
    // Either URL alone stops the product, and so does a package key that is not the Base64 of 32 bytes.
    const QString good = u"https://h.example/updates/"_s, plain = u"http://h.example/updates/"_s;
    for (const auto &[metadata, downloads, key] : {std::tuple{plain, good, QString()}, {good, plain, QString()}, {good, good, u"AAAA"_s}})
        EXPECT_FALSE(makeProduct({metadata + u"latest-mac.yml"_s, downloads, u"id"_s, u"/Applications"_s, key})) << key.toStdString();
}

}  // namespace
}  // namespace quillmere
