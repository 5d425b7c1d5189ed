#include "release/release_check.h"
#include "support/test_server.h"

#include "support/printing.h"

#include <QTest>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using namespace test;

// The manifest's request follows redirects as the package's does: ten, and no more.
TEST(ReleaseCheck, FollowsTenRedirectsAndNoMore)
{
    for (const int hops : {10, 11}) {
        TestServer server;
        serveRedirects(server, u"/updates/latest-mac.yml"_s, hops,
                       {httpResponse(200, "version: 1.4.2\nfiles:\n  - url: Q.zip\n")});
        ReleaseCheck check(server.url(u"/updates/latest-mac.yml"_s), server.url(u"/updates/"_s));
        std::optional<ReleaseCheckResult> result;
        QObject::connect(&check, &ReleaseCheck::finished, [&](const ReleaseCheckResult &r) { result = r; });
        check.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000)) << hops;
        EXPECT_EQ(std::pair(result->release.has_value(), result->errorDescription),
                  std::pair(hops == 10, hops == 10 ? QString() : u"Too many redirects"_s)) << hops;
    }
}

}  // namespace
}  // namespace quillmere
