#include "download/package_download.h"
#include "ui/download_texts.h"

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

constexpr qint64 MiB = 1048576;

TEST(DownloadTexts, ProgressInWholeMebibytesAndAnUnclampedPercentage)
{
    const struct {
        qint64 written, total;
        QString version, text;
        double percentage;
    } rows[] = {
        {12 * MiB + MiB / 2, 95 * MiB + MiB / 2, u"1.4.2"_s, u"正在下载 1.4.2… 12 / 95 MB"_s, 13.0890052},
        {MiB - 1, 3 * MiB, u"1.4.2"_s, u"正在下载 1.4.2… 0 / 3 MB"_s, 33.3333015},
        {300, 200, u"2.0"_s, u"正在下载 2.0… 0 / 0 MB"_s, 150.0},
        {MiB, MiB, QString(), u"正在下载 … 1 / 1 MB"_s, 100.0}, // no release held
    };
    for (const auto &row : rows) {
        EXPECT_EQ(downloadProgressText(row.written, row.total, row.version), row.text);
        EXPECT_NEAR(downloadPercentage(row.written, row.total), row.percentage, 1e-6);
    }
}

TEST(DownloadPlacement, HostileNamesStayInsideTheDirectory)
{
    const std::pair<const char *, QString> rows[] = {
        {"/updates/Q-1.4.2-mac.zip", u"Q-1.4.2-mac.zip"_s},
        {"/updates/%C3%BC%20x.zip", u"ü x.zip"_s},
        {"/updates/50%25.zip", u"50%.zip"_s},
        {"/updates/a%2Fb.zip", u"update.zip"_s},
        {"/updates/..%2F..%2Fevil.zip", u"update.zip"_s},
        {"/updates/a%5Cb.zip", u"update.zip"_s},
        {"/updates/a%00.zip", u"update.zip"_s},
        {"/updates/%2E%2E", u"update.zip"_s},
        {"/updates/.", u"update.zip"_s},
        {"/updates/", u"update.zip"_s},
        {"", u"update.zip"_s},
    };
    for (const auto &[path, name] : rows)
        EXPECT_EQ(placementFileName(QUrl(u"https://h.example"_s + QString::fromLatin1(path))), name) << path;
    // A file system holds names of up to 255 bytes (a "ü" takes two).
    const auto named = [](const QString &name) { return placementFileName(QUrl(u"https://h.example/"_s + name)); };
    EXPECT_EQ(named(QString(251, u'n') + u".zip"_s), QString(251, u'n') + u".zip"_s);
    EXPECT_EQ(named(QString(126, u'ü') + u".zip"_s), u"update.zip"_s);
}

}  // namespace
}  // namespace quillmere
