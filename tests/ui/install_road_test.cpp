// The whole road on this machine, through the real controller and window: the offer, the
// primary button, the download from the test server, staging, the install script and the
// installed copy, one row per outcome.
#include "support/alerts.h"
#include "support/bundles.h"
#include "support/controls.h"
#include "support/packages.h"
#include "support/products.h"
#include "support/test_server.h"
#include "install/install_script.h"
#include "platform/plist_value.h"
#include "system/transfer.h"
#include "ui/installer_controller.h"
#include "ui/progress_bar.h"

#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::Answer;
using test::ZipEntry;

enum class End { Completed, Cancelled, Failed };

struct Row {
    const char *name;
    QList<ZipEntry> package; // empty: `answer` is given instead
    Answer answer;
    End end;
    QString message; // the start of a failure's
    bool dismissPrompt = false;
    std::chrono::milliseconds downloadLimit{}; // none: the transfer may take its time
};

const QString app = u"Quillmere Desktop.app"_s;

// A bundle's entries below `top`: its Info.plist and, with `executable`, a program that
// records that it was started.
QList<ZipEntry> bundle(const QString &identifier, bool executable = true, const QString &top = app)
{
    QList<ZipEntry> entries{
        {top + u"/"_s, 040755, {}},
        {top + u"/Contents/Info.plist"_s, 0100644,
         QString::fromUtf8(test::xmlPlist("<dict><key>CFBundleIdentifier</key><string>" + identifier.toUtf8()
                                          + "</string><key>CFBundleShortVersionString</key>"
                                            "<string>1.4.2</string></dict>"))},
        {top + u"/Contents/Resources/Current"_s, 0120777, u"../MacOS"_s}};
    if (executable)
        entries.append({top + u"/Contents/MacOS/Quillmere Desktop"_s, 0100755,
                        u"#!/bin/sh\necho \"$0\" > \"$QUILLMERE_TEST_STARTED\"\n"_s});
    return entries;
}

class InstallRoad : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override
    {
        // The Trash the script uses is the one of $HOME; the started copy inherits the variable.
        savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(root.filePath(u"home"_s)));
        qunsetenv("XDG_DATA_HOME");
        qputenv("QUILLMERE_TEST_STARTED", QFile::encodeName(started));
        ASSERT_TRUE(QDir().mkpath(root.filePath(u"Applications"_s)) && QDir().mkpath(root.filePath(u"tmp"_s)));
        ASSERT_TRUE(test::writeBundle(installPath, test::stringPlist("CFBundleShortVersionString", u"1.3.0"_s)));
        server.serve(u"/updates/latest-mac.yml"_s,
                     {test::httpResponse(200, "version: 1.4.2\n  - url: Q-1.4.2-mac.zip\n")});
    }
    void TearDown() override { qputenv("HOME", savedHome); }

    // A controller that offers the release, whose package is answered with `answer`. Silence
    // ends a transfer after a second, unless `downloadLimit` is the limit under test.
    std::unique_ptr<InstallerController> offer(const Answer &answer, std::chrono::milliseconds downloadLimit = {})
    {
        server.serve(u"/updates/Q-1.4.2-mac.zip"_s, answer);
        auto controller = std::make_unique<InstallerController>(
            test::productFor(server.url(u"/updates/"_s), root.filePath(u"Applications"_s)));
        controller->setTemporaryFolder(root.filePath(u"tmp"_s));
        controller->setNetworkTimeout(downloadLimit > 0ms ? 30s : 1s);
        if (downloadLimit > 0ms)
            controller->setDownloadTimeLimit(downloadLimit);
        controller->fetchMetadata();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller->working(); }, 10000));
        return controller;
    }
    // Presses the primary button and waits for the road's end; returns the alert that ended it.
    static std::optional<test::SeenAlert> press(InstallerController &controller)
    {
        test::AlertDismisser dismisser;
        test::control<QPushButton>(controller, "actionButton")->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller.working(); }, 30000));
        return dismisser.seen();
    }
    Answer zipped(const QList<ZipEntry> &entries)
    {
        QFile file(root.filePath(u"package.zip"_s));
        EXPECT_TRUE(test::writeZip(file.fileName(), entries) && file.open(QIODevice::ReadOnly));
        return {test::httpResponse(200, file.readAll())};
    }
    QStringList trashed() const
    {
        return QDir(root.filePath(u"home/.local/share/Trash/files"_s))
            .entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    }

    QTemporaryDir root;
    QString installPath = root.filePath(u"Applications/"_s + app);
    QString started = root.filePath(u"started"_s);
    QByteArray savedHome;
    test::TestServer server;
};

const QString downloadFailed = u"下载失败："_s; // followed by the network layer's words

TEST_P(InstallRoad, EndsAsItShould)
{
    const Row &row = GetParam();
    const auto controller = offer(row.package.isEmpty() ? row.answer : zipped(row.package), row.downloadLimit);
    if (row.dismissPrompt) {
        // Answers as pkexec does when its prompt is dismissed.
        const QString elevator = root.filePath(u"pkexec"_s);
        ASSERT_EQ(writeInstallScript(elevator, u"#!/bin/sh\necho 'Error executing command as another "
                                               "user: Request dismissed' >&2\nexit 126\n"_s),
                  std::nullopt);
        controller->setElevator({elevator, true});
    }
    const std::optional<test::SeenAlert> alert = press(*controller);
    const QString status = test::textOf(*controller, "statusLabel");
    const QString detail = test::textOf(*controller, "detailLabel");
    auto *button = test::control<QPushButton>(*controller, "actionButton");
    const bool barShown = !test::control<ProgressBar>(*controller, "progress")->isHidden();
    const std::optional<QString> installed = plistValue(installPath, u"CFBundleShortVersionString"_s);

    switch (row.end) {
    case End::Completed: {
        EXPECT_FALSE(alert);
        EXPECT_EQ(status, u"安装完成"_s);
        EXPECT_EQ(detail, u"Quillmere Desktop 1.4.2 已安装到「应用程序」并已启动。"_s);
        EXPECT_FALSE(barShown);
        EXPECT_EQ(installed, u"1.4.2"_s);
        EXPECT_TRUE(QFileInfo(installPath + u"/Contents/Resources/Current"_s).isSymLink());
        // The previous copy is in the user's Trash (its name and info file: the Linux script test).
        const QStringList files = trashed();
        ASSERT_EQ(files.size(), 1);
        EXPECT_EQ(plistValue(root.filePath(u"home/.local/share/Trash/files/"_s + files.first()),
                             u"CFBundleShortVersionString"_s), u"1.3.0"_s);
        // The new copy was started, from the install path.
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(started); }, 5000));
        QFile record(started);
        EXPECT_TRUE(record.open(QIODevice::ReadOnly));
        EXPECT_EQ(record.readAll().trimmed(), QFile::encodeName(installPath + u"/Contents/MacOS/Quillmere Desktop"_s));
        QSignalSpy quit(controller.get(), &InstallerController::terminateRequested);
        EXPECT_EQ(button->text(), u"完成"_s);
        button->click();
        EXPECT_EQ(quit.count(), 1);
        break;
    }
    case End::Cancelled:
        EXPECT_FALSE(alert);
        EXPECT_EQ(status, u"已取消安装"_s);
        EXPECT_EQ(detail, u"没有做任何更改。"_s);
        EXPECT_FALSE(barShown);
        EXPECT_EQ(button->text(), u"更新"_s);
        EXPECT_TRUE(button->isEnabled());
        break;
    case End::Failed:
        ASSERT_TRUE(alert);
        EXPECT_TRUE(alert->informativeText.startsWith(row.message)) << alert->informativeText.toStdString();
        EXPECT_NE(alert->informativeText, downloadFailed);
        // A failed download hides the bar; a failure after it leaves the bar full.
        EXPECT_EQ(barShown, !row.message.startsWith(downloadFailed));
        break;
    }
    if (row.end != End::Completed && row.message != u"安装失败：无法启动"_s) {
        // Nothing of the installed copy was touched.
        EXPECT_EQ(installed, u"1.3.0"_s);
        EXPECT_EQ(trashed(), QStringList());
        EXPECT_FALSE(QFile::exists(started));
    }
}

constexpr qint64 MiB = 1048576;
const QByteArray whole = test::httpResponse(200, QByteArray(2 * MiB, 'x')); // a package cut short below
const QString unpackFailed = u"解压失败，安装包可能未下载完整。请重试。"_s;
const QString noBundle = u"安装包里没有 Quillmere Desktop。"_s;
const QString mismatch = u"安装包的标识不匹配，已中止。"_s;

INSTANTIATE_TEST_SUITE_P(Outcomes, InstallRoad, ::testing::Values(
    Row{"update", bundle(u"com.quillmere.desktop"_s), {}, End::Completed, {}},
    Row{"resetPartWay", {}, {whole, Answer::End::Reset, 0ms, MiB}, End::Failed, downloadFailed},
    Row{"closedPartWay", {}, {whole, Answer::End::Close, 0ms, MiB}, End::Failed, downloadFailed},
    Row{"stalled", {}, {whole, Answer::End::Stall, 0ms, MiB}, End::Failed, downloadFailed + timeoutDescription()},
    Row{"overTheDownloadLimit", {}, {whole, Answer::End::Stall, 0ms, MiB}, End::Failed,
        downloadFailed + timeoutDescription(), false, 500ms},
    Row{"corruptZip", {}, {test::httpResponse(200, "PK\x03\x04 broken")}, End::Failed, unpackFailed},
    // An error page is placed like a package; unpacking refuses it.
    Row{"errorPage", {}, {test::httpResponse(404, "<html><body>Not here</body></html>")}, End::Failed, unpackFailed},
    Row{"noBundle", bundle(u"com.quillmere.desktop"_s, true, u"Other.app"_s), {}, End::Failed, noBundle},
    Row{"nestedBundle", bundle(u"com.quillmere.desktop"_s, true, u"x/"_s + app), {}, End::Failed, noBundle},
    Row{"linkNamedLikeTheBundle", {{app, 0120777, u"/"_s}}, {}, End::Failed, noBundle},
    Row{"fileNamedLikeTheBundle", {{app, 0100644, u"x"_s}}, {}, End::Failed, mismatch},
    Row{"identifierInAnotherCase", bundle(u"com.Quillmere.desktop"_s), {}, End::Failed, mismatch},
    Row{"promptDismissed", bundle(u"com.quillmere.desktop"_s), {}, End::Cancelled, {}, true},
    // The copy is in place, but starting it failed: the failed state, as on macOS.
    Row{"noExecutable", bundle(u"com.quillmere.desktop"_s, false), {}, End::Failed, u"安装失败：无法启动"_s}),
    [](const auto &info) { return std::string(info.param.name); });

// Each retry fetches the package again, not the manifest, and stages it afresh.
TEST_F(InstallRoad, RetriesAfterFailuresCompleteTheInstallation)
{
    const auto controller = offer({whole, Answer::End::Reset, 0ms, MiB});
    ASSERT_TRUE(press(*controller));
    const auto retry = [&](const Answer &answer) {
        server.serve(u"/updates/Q-1.4.2-mac.zip"_s, answer);
        const qsizetype asked = server.requests().size();
        const std::optional<test::SeenAlert> alert = press(*controller);
        EXPECT_EQ(server.requests().size(), asked + 1);
        return alert.value_or(test::SeenAlert{}).informativeText;
    };
    EXPECT_EQ(retry({test::httpResponse(200, "not a zip")}), unpackFailed);
    EXPECT_EQ(retry(zipped(bundle(u"com.quillmere.desktop"_s))), QString());
    EXPECT_TRUE(controller->hasFinished());
    // Two stage directories of their own, private; nothing removes the first.
    const QFileInfoList stages =
        QDir(root.filePath(u"tmp"_s)).entryInfoList({u"quillmere-stage-*"_s}, QDir::Dirs);
    EXPECT_EQ(stages.size(), 2);
    for (const QFileInfo &stage : stages)
        EXPECT_EQ(stage.permissions() & 0x0077, 0);
}

TEST_F(InstallRoad, CancelDuringTheDownloadEndsTheApplicationWithoutAnAlert)
{
    const auto controller = offer({whole, Answer::End::Stall, 0ms, MiB});
    QSignalSpy quit(controller.get(), &InstallerController::terminateRequested);
    test::control<QPushButton>(*controller, "actionButton")->click();
    const auto *bar = test::control<ProgressBar>(*controller, "progress");
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->percentage() > 0; }, 10000));
    test::AlertDismisser alert;
    test::control<QPushButton>(*controller, "cancelButton")->click();
    QTest::qWait(300);
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(alert.seen());
    EXPECT_FALSE(controller->placedPackage());
}

}  // namespace
}  // namespace quillmere
