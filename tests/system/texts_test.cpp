#include "system/texts.h"

#include "support/printing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(Offer, ChosenByPlainVersionEquality)
{
    const QString reinstall = u"当前已是最新版本。重新安装会覆盖现有副本，登录状态与设置都会保留。"_s;
    const QString detail = u"Q-1.4.2-mac.zip · 150 MB"_s;
    const std::tuple<std::optional<QString>, QString, OfferTexts> rows[] = { // installed, offered: texts
        {std::nullopt, u"1.4.2"_s, {u"最新版本 1.4.2"_s, detail, u"安装"_s}},
        {u"1.4.2"_s, u"1.4.2"_s, {u"已安装 1.4.2"_s, reinstall, u"重新安装"_s}},
        // No ordering: a newer installed copy is still offered the manifest's version.
        {u"1.5.0"_s, u"1.4.2"_s, {u"可以更新：1.5.0 → 1.4.2"_s, detail, u"更新"_s}},
        {u"1.4.2"_s, u"'1.4.2'"_s, {u"可以更新：1.4.2 → '1.4.2'"_s, detail, u"更新"_s}},
        // Canonically equivalent texts (precomposed é against e + combining acute) are equal.
        {u"1.0-caf\u00e9"_s, u"1.0-cafe\u0301"_s, {u"已安装 1.0-cafe\u0301"_s, reinstall, u"重新安装"_s}},
    };
    for (const auto &[installed, offered, texts] : rows)
        EXPECT_EQ(offerTexts(installed, offered, u"Q-1.4.2-mac.zip"_s, 157286400), texts) << offered.toStdString();
    EXPECT_EQ(offerTexts(std::nullopt, u"2.0"_s, u"Q-1.4.2-mac.zip"_s, std::nullopt).detail, u"Q-1.4.2-mac.zip"_s);
}

TEST(Offer, SizeSuffixRoundsHalvesUpAndNeverOverflows)
{
    const std::pair<std::int64_t, QString> rows[] = {
        {524287, u" · 0 MB"_s}, {524288, u" · 1 MB"_s},
        // Past this the plain sum would leave the 64-bit range.
        {9223372036854251519, u" · 8796093022207 MB"_s}, {9223372036854251520, u" · 8796093022208 MB"_s},
        {std::numeric_limits<std::int64_t>::max(), u" · 8796093022208 MB"_s}, // 8796093022207.9999990 rounds up
    };
    for (const auto &[size, suffix] : rows)
        EXPECT_EQ(sizeSuffix(size), suffix) << size;
}

constexpr qint64 MiB = 1048576;

TEST(DownloadTexts, ProgressInWholeMebibytesAndAnUnclampedPercentage)
{
    const std::tuple<qint64, qint64, QString, QString, double> rows[] = { // written, total, version: text, percentage
        {12 * MiB + MiB / 2, 95 * MiB + MiB / 2, u"1.4.2"_s, u"正在下载 1.4.2… 12 / 95 MB"_s, 13.0890052},
        {MiB - 1, 3 * MiB, u"1.4.2"_s, u"正在下载 1.4.2… 0 / 3 MB"_s, 33.3333015},
        {300, 200, QString(), u"正在下载 … 0 / 0 MB"_s, 150.0}, // no release held
    };
    for (const auto &[written, total, version, text, percentage] : rows)
        EXPECT_TRUE(downloadProgressText(written, total, version) == text
                    && std::abs(downloadPercentage(written, total) - percentage) < 1e-6) << text.toStdString();
}

}  // namespace
}  // namespace quillmere
