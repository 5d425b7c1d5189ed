// The whole road on this machine, through the real controller and window against the test
// server: the offer, the download, staging, the install script and the installed copy. Each
// row is a server fault, a hostile package or an install that goes wrong; every one ends with
// its exact message (or completes), leaves the installed copy and everything outside the
// private directories as they were (or the previous copy in the Trash), and a retry against a
// healthy server then completes. Built with the macOS platform layer, the rows run the Mac's
// install script through the stand-ins of tools/macos-standins/ (see tests/CMakeLists.txt).
#include "support/alerts.h"
#include "support/bundles.h"
#include "support/controls.h"
#include "support/packages.h"
#include "support/products.h"
#include "support/test_server.h"
#include "support/tiny_proxy.h"
#include "install/install_script.h"
#include "platform/plist_value.h"
#include "system/transfer.h"
#include "ui/installer_controller.h"
#include "ui/progress_bar.h"
#include "ui/spinner.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/printing.h"

#include <gtest/gtest.h>

#include <csignal>

#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::Answer;
using test::httpResponse;
using test::TestServer;
using test::ZipEntry;
using Chain = TestServer::Chain;

#ifdef QUILLMERE_PLATFORM_MACOS
constexpr bool onMac = true;
#else
constexpr bool onMac = false;
#endif

const QString app = u"Quillmere Desktop.app"_s;
const QString manifestPath = u"/updates/latest-mac.yml"_s;
const QByteArray manifest = "version: 1.4.2\nfiles:\n  - url: Q-1.4.2-mac.zip\n";

// How the manifest lists the package: by name only, or with its size and digest as an entry
// of `files`, after a dmg's entry (whose digest is the first one in the text).
enum class Listing { NameOnly, Entry, DmgFirst };
QByteArray manifestListing(Listing listing, const QByteArray &zipName, const QByteArray &zip)
{
    if (listing == Listing::NameOnly)
        return "version: 1.4.2\n  - url: " + zipName + "\n";
    const QByteArray entry = "  - url: " + zipName + "\n    sha512: "
        + QCryptographicHash::hash(zip, QCryptographicHash::Sha512).toBase64() + "\n    size: "
        + QByteArray::number(zip.size()) + "\n";
    const QByteArray dmg = "  - url: Q-1.4.2.dmg\n    sha512: " + QByteArray(86, 'A') + "==\n    size: 99\n";
    return "version: 1.4.2\nfiles:\n" + (listing == Listing::DmgFirst ? dmg + entry : entry)
        + "path: " + zipName + "\nsha512: " + QByteArray(86, 'B') + "==\n";
}

// A bundle's entries below `top`: its Info.plist, a link inside it and, with `executable`, a
// setuid program that records the path it was started from. Every entry belongs to user 4321.
QList<ZipEntry> bundle(const QString &identifier = u"com.quillmere.desktop"_s, bool executable = true,
                       const QString &top = app)
{
    QList<ZipEntry> entries{
        {top + u"/Contents/Info.plist"_s, 0100644,
         QString::fromUtf8(test::xmlPlist("<dict><key>CFBundleIdentifier</key><string>" + identifier.toUtf8()
                                          + "</string><key>CFBundleShortVersionString</key>"
                                            "<string>1.4.2</string></dict>"))},
        {top + u"/Contents/Resources/Current"_s, 0120777, u"../MacOS"_s}};
    if (executable)
        entries.append({top + u"/Contents/MacOS/Quillmere Desktop"_s, 0104755,
                        u"#!/bin/sh\necho \"$0\" > \"$QUILLMERE_TEST_STARTED\"\n"_s});
    return entries;
}

enum class Where { Manifest, Package };
// The user's HTTPS proxy, a tinyproxy: none; given as https_proxy, as HTTPS_PROXY, with a user
// name and password in the URL (the proxy asks for them); or given, but the server's host
// name is in no_proxy.
enum class Proxy { None, Lower, Upper, WithCredentials, Bypassed };
enum class Send { All, Nothing, PartWay /* all but the body's last 20 bytes */ };
enum class Previous { Installed, Running, None };
// Where the install script is killed (SIGKILL): before the move to the Trash, before the copy,
// with the copy half made, or after it.
enum class Kill { No, BeforeMove, AfterMove, DuringCopy, AfterCopy };
// Signed: the build takes signed packages only, and the package comes with a signature that is
// valid, missing, made with another key, or made before the package was changed.
enum class Signature { None, Valid, Missing, OtherKey, Tampered };

struct Row {
    const char *name;
    Where where = Where::Package;
    // The answer's bytes made from the healthy body; a plain 200 by default.
    QByteArray (*respond)(const QByteArray &body) = nullptr;
    Send send = Send::All;
    Answer::End end = Answer::End::Close;
    Chain chain = Chain::Trusted;         // the server's certificate for the attempt
    bool refused = false;                 // nothing listens during the attempt
    bool totalLimit = false;              // the download may take 300 ms in all
    QList<ZipEntry> package = bundle();   // "$ROOT" in a name or link stands for the test's folder
    qsizetype cut = -1;                   // the zip cut short to this many bytes
    bool smallDisk = false;               // the temporary folder is an 8 MiB tmpfs
    QString zipName = u"Q-1.4.2-mac.zip"_s;  // the name the manifest gives
    Listing listing = Listing::NameOnly;  // how it gives it (the digest of the healthy package)
    bool dismissPrompt = false;           // the password prompt is dismissed
    Previous previous = Previous::Installed;  // the copy of 1.3.0 at the install path
    bool smallApplications = false;       // the install folder is an 8 MiB tmpfs
    Kill kill = Kill::No;
    bool resumes = false;                 // the retry asks for the rest, and the server keeps ranges
    Proxy proxy = Proxy::None;
    Signature signature = Signature::None;
    bool unread = false;                  // refused before anything was written (no stage directory)
    bool folderMissing = false;           // no install folder yet
    QString message = {};                 // the alert's words ('*': any text); empty: no alert
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

class InstallRoad : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override
    {
        // The Trash the script uses is the one of $HOME; the started copy inherits the variable.
        savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(root.filePath(u"home"_s)));
        qunsetenv("XDG_DATA_HOME");
        qputenv("QUILLMERE_TEST_STARTED", QFile::encodeName(started));
        for (const char *name : proxyVariables)
            savedProxy << qgetenv(name);
        for (const QString &folder : {u"outside"_s, u"tmp"_s, u"home"_s, u"Applications"_s})
            ASSERT_TRUE(QDir().mkpath(root.filePath(folder)));
        ASSERT_TRUE(QDir().mkpath(trash));  // a Mac user's Trash is always there
        heal(bundle());
    }
    void TearDown() override
    {
        qputenv("HOME", savedHome);
        for (qsizetype i = 0; i < savedProxy.size(); ++i)
            savedProxy[i].isNull() ? qunsetenv(proxyVariables[i]) : qputenv(proxyVariables[i], savedProxy[i]);
        for (const char *name : {"QUILLMERE_STANDIN_PROMPT", "BASH_ENV", "QUILLMERE_KILL_AT", "QUILLMERE_KILL_PARTIAL"})
            qunsetenv(name);
        if (runningPid > 0)
            ::kill(runningPid, SIGKILL);
        for (const QString &folder : mounted)
            (void)run(u"/bin/umount"_s, {root.filePath(folder)});
    }
    // Mounts an 8 MiB tmpfs on the folder; returns why it could not.
    std::optional<QString> mountSmall(const QString &folder)
    {
        const CommandResult mount = run(u"/bin/mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=8m,mode=0700"_s, u"tmpfs"_s, root.filePath(folder)});
        if (mount.status != 0)
            return mount.output;
        mounted << folder;
        return std::nullopt;
    }
    // The copy of 1.3.0 at the install path; a running one has an executable, started here.
    void installPrevious(Previous previous)
    {
        if (previous == Previous::None)
            return;
        ASSERT_TRUE(test::writeBundle(installPath, test::stringPlist("CFBundleShortVersionString", u"1.3.0"_s)));
        if (previous != Previous::Running)
            return;
        // Its command line holds the executable's path, as pkill looks for it.
        QFile executable(installPath + u"/Contents/MacOS/Quillmere Desktop"_s);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(executable).path()) && executable.open(QIODevice::WriteOnly));
        executable.write("#!/bin/bash\nexec -a \"$0\" /bin/sleep 60\n");
        executable.close();
        qint64 pid = 0;
        ASSERT_TRUE(executable.setPermissions(QFile::Permissions(0x7755))
                    && QProcess::startDetached(executable.fileName(), {}, {}, &pid));
        runningPid = static_cast<int>(pid);
    }
    // Whether the process is running, not merely a zombie nobody has reaped.
    static bool alive(int pid)
    {
        QFile stat(u"/proc/%1/stat"_s.arg(pid));
        return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
    }
    // The previous copy, at the install path or in the Trash (on Linux with its info file).
    bool previousHeld() const
    {
        if (plistValue(installPath, u"CFBundleShortVersionString"_s) == u"1.3.0"_s)
            return true;
        for (const QString &name : trashed()) {
            if (plistValue(trash + u'/' + name, u"CFBundleShortVersionString"_s) == u"1.3.0"_s
                && (onMac || QFile::exists(trash + u"/../info/"_s + name + u".trashinfo"_s)))
                return true;
        }
        return false;
    }
    // Makes the next run of install.sh kill itself (SIGKILL) at `kill`, through the file that
    // bash reads before a script (BASH_ENV); during the copy, one file of it is made first.
    void killInstallAt(Kill kill)
    {
        const char *at[] = {"", "/bin/mv ", "/bin/cp -a", "/bin/cp -a", "[ ! -f"};
        const char *atMac[] = {"", "/bin/mv ", "/usr/bin/ditto", "/usr/bin/ditto", "/usr/bin/xattr"};
        const QString trap = work.filePath(u"kill.sh"_s);
        QFile file(trap);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"sh(if [[ $0 == */install.sh ]]; then
  trap 'if [[ $BASH_COMMAND == "$QUILLMERE_KILL_AT"* ]]; then
    if [ -n "${QUILLMERE_KILL_PARTIAL:-}" ]; then
      /bin/mkdir -p "$APP/Contents" && /bin/cp "$STAGED/Contents/Info.plist" "$APP/Contents/"
    fi
    /bin/kill -KILL $$
  fi' DEBUG
fi
)sh");
        file.close();
        qputenv("BASH_ENV", QFile::encodeName(trap));
        qputenv("QUILLMERE_KILL_AT", (onMac ? atMac : at)[static_cast<int>(kill)]);
        if (kill == Kill::DuringCopy)
            qputenv("QUILLMERE_KILL_PARTIAL", "1");
    }

    std::unique_ptr<InstallerController> controller(const QByteArray &packageKey = {})
    {
        auto c = std::make_unique<InstallerController>(
            test::productFor(server.url(u"/updates/"_s, host), root.filePath(u"Applications"_s), packageKey));
        c->setTemporaryFolder(root.filePath(u"tmp"_s));
        c->setNetworkTimeout(1s);
        return c;
    }
    // Runs one step (the release check, or the primary button) to its end; returns its alert.
    static std::optional<test::SeenAlert> step(InstallerController &c, const std::function<void()> &start)
    {
        test::AlertDismisser dismisser;
        start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !c.working(); }, 30000));
        return dismisser.seen();
    }
    static std::optional<test::SeenAlert> press(InstallerController &c)
    {
        return step(c, [&] { test::control<QPushButton>(c, "actionButton")->click(); });
    }
    QByteArray zipped(const QList<ZipEntry> &entries, qsizetype cut = -1)
    {
        QList<ZipEntry> placed = entries;
        for (auto &[name, mode, content] : placed) {
            name.replace(u"$ROOT"_s, root.path());
            content.replace(u"$ROOT"_s, root.path());
        }
        QFile file(work.filePath(u"package.zip"_s));
        EXPECT_TRUE(test::writeZip(file.fileName(), placed) && file.open(QIODevice::ReadOnly));
        return file.readAll().first(cut < 0 ? file.size() : cut);
    }
    // A healthy server: trusted, listening, the manifest and a package of `entries` (signed
    // with signingKey when there is one).
    void heal(const QList<ZipEntry> &entries, const QString &packagePath = u"/updates/Q-1.4.2-mac.zip"_s)
    {
        server.setChain(Chain::Trusted);
        server.setRefusing(false);
        server.serve(manifestPath, {httpResponse(200, manifestListing(Listing::Entry, "Q-1.4.2-mac.zip", zipped(entries)))});
        const QByteArray package = zipped(entries);
        server.serve(packagePath, {httpResponse(200, package)});
        server.serve(u"/moved/Q.zip"_s, {httpResponse(200, package)});
        if (!signingKey.isEmpty())
            server.serve(packagePath + u".sig"_s, {httpResponse(200, signature(package, signingKey))});
    }
    // An Ed25519 key pair made from a seed of 32 `seed` bytes: {public, secret}.
    static std::pair<QByteArray, QByteArray> keyPair(char seed)
    {
        QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, 0), secretKey(crypto_sign_SECRETKEYBYTES, 0);
        const QByteArray seedBytes(crypto_sign_SEEDBYTES, seed);
        crypto_sign_seed_keypair(reinterpret_cast<uchar *>(publicKey.data()), reinterpret_cast<uchar *>(secretKey.data()),
                                 reinterpret_cast<const uchar *>(seedBytes.constData()));
        return {publicKey, secretKey};
    }
    // A .sig file's text: the Base64 of the signature over `bytes`, and a line feed.
    static QByteArray signature(const QByteArray &bytes, const QByteArray &secretKey)
    {
        QByteArray signed_(crypto_sign_BYTES, 0);
        crypto_sign_detached(reinterpret_cast<uchar *>(signed_.data()), nullptr, reinterpret_cast<const uchar *>(bytes.constData()),
                             bytes.size(), reinterpret_cast<const uchar *>(secretKey.constData()));
        return signed_.toBase64() + '\n';
    }
    // Everything below the test's folder but the private directories, the install folder, the
    // Trash and the started copy's record, none of them followed through links.
    QStringList outside() const
    {
        QStringList found;
        QDirIterator it(root.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next().mid(root.path().size());
            if (!path.startsWith(u"/tmp/quillmere-"_s) && !path.startsWith(u"/Applications/"_s)
                && !path.startsWith(u"/home/.local"_s) && !path.startsWith(u"/home/.Trash/"_s) && path != u"/started"_s)
                found << path;
        }
        found.sort();
        return found;
    }
    QStringList trashed() const { return QDir(trash).entryList(QDir::NoDotAndDotDot | QDir::AllEntries); }
    void expectCompleted(InstallerController &c, Previous previous = Previous::Installed)
    {
        EXPECT_EQ(test::textOf(c, "statusLabel"), u"安装完成"_s);
        EXPECT_EQ(test::textOf(c, "detailLabel"), u"Quillmere Desktop 1.4.2 已安装到「应用程序」并已启动。"_s);
        EXPECT_TRUE(test::control<ProgressBar>(c, "progress")->isHidden());
        EXPECT_EQ(plistValue(installPath, u"CFBundleShortVersionString"_s), u"1.4.2"_s);
        EXPECT_TRUE(QFileInfo(installPath + u"/Contents/Resources/Current"_s).isSymLink());
        // Nothing installed keeps the archive's owner or a set-id bit.
        QDirIterator it(installPath, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            struct stat info {};
            ASSERT_EQ(::lstat(QFile::encodeName(it.next()).constData(), &info), 0);
            EXPECT_EQ(info.st_uid, ::geteuid()) << it.filePath().toStdString();
            EXPECT_EQ(info.st_mode & (S_ISUID | S_ISGID), 0u) << it.filePath().toStdString();
        }
        // The previous copy is in the user's Trash under a time-stamped name (its info file: the
        // Linux script's test), and stopped if it was running.
        QStringList versions;
        for (const QString &name : trashed()) {
            EXPECT_TRUE(QRegularExpression(u"^Quillmere Desktop\\.\\d{14}\\.app$"_s).match(name).hasMatch()) << name.toStdString();
            versions << plistValue(trash + u'/' + name, u"CFBundleShortVersionString"_s).value_or(name);
        }
        EXPECT_EQ(versions.contains(u"1.3.0"_s), previous != Previous::None) << versions.join(u' ').toStdString();
        EXPECT_FALSE(previous == Previous::Running && alive(runningPid));
        // The new copy was started, from the install path.
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo(started).size() > 0; }, 5000));
        QFile record(started);
        EXPECT_TRUE(record.open(QIODevice::ReadOnly));
        EXPECT_EQ(record.readAll().trimmed(), QFile::encodeName(installPath + u"/Contents/MacOS/Quillmere Desktop"_s));
        QSignalSpy quit(&c, &InstallerController::terminateRequested);
        auto *button = test::control<QPushButton>(c, "actionButton");
        EXPECT_EQ(button->text(), u"完成"_s);
        button->click();
        EXPECT_EQ(quit.count(), 1);
    }

    QTemporaryDir root, work;
    QString installPath = root.filePath(u"Applications/"_s + app);
    QString started = root.filePath(u"started"_s);
    QString trash = root.filePath(onMac ? u"home/.Trash"_s : u"home/.local/share/Trash/files"_s);
    QByteArray savedHome;
    QByteArray signingKey;  // the publisher's secret key, once the build takes signed packages
    QStringList mounted;
    int runningPid = 0;
    static constexpr const char *proxyVariables[] = {"https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"};
    QList<QByteArray> savedProxy;
    QString host = u"127.0.0.1"_s;  // the server's name in the product's URLs
    TestServer server;
};

const QString checkFailed = u"无法获取版本信息："_s;
const QString badManifest = u"版本信息格式不正确，请稍后重试。"_s;
const QString downloadFailed = u"下载失败："_s;
const QString unpackFailed = u"解压失败，安装包可能未下载完整。请重试。"_s;
const QString noBundle = u"安装包里没有 Quillmere Desktop。"_s;
const QString mismatch = u"安装包的标识不匹配，已中止。"_s;
const QString packageMismatch = u"下载的文件与发布信息不符，请重试。"_s;
const QString unsafe = u"安装包含有不安全的内容，已中止。"_s;
const QString badSignature = u"安装包的签名无效，已中止。"_s;

TEST_P(InstallRoad, EndsAsItShouldAndARetryCompletes)
{
    const Row &row = GetParam();
    // The message with its '*' standing for any text.
    const QString message = QString(row.message).replace(u"$ROOT"_s, root.path());
    QStringList parts = message.split(u'*');
    for (QString &part : parts)
        part = QRegularExpression::escape(part);
    const QRegularExpression expected(QRegularExpression::anchoredPattern(parts.join(u".*"_s)),
                                      QRegularExpression::DotMatchesEverythingOption);
    for (const auto &[small, folder] : {std::pair{row.smallDisk, u"tmp"_s}, {row.smallApplications, u"Applications"_s}}) {
        if (const std::optional<QString> refused = small ? mountSmall(folder) : std::nullopt)
            GTEST_SKIP() << "cannot mount a small tmpfs here: " << refused->toStdString();
    }
    installPrevious(row.previous);
    std::optional<test::TinyProxy> proxy;
    if (row.proxy != Proxy::None) {
        host = test::TinyProxy::loopbackHostName();
        if (host.isEmpty())
            GTEST_SKIP() << "no name of this machine but localhost resolves to loopback only; Qt proxies no loopback address";
        const QByteArray credentials = row.proxy == Proxy::WithCredentials ? "quill:s3cret" : "";
        proxy.emplace(credentials);
        ASSERT_TRUE(proxy->running()) << "tinyproxy did not start: " << proxy->output().toStdString();
        for (const char *name : proxyVariables)
            qunsetenv(name);
        qputenv(row.proxy == Proxy::Upper ? "HTTPS_PROXY" : "https_proxy",
                "http://" + (credentials.isEmpty() ? "" : credentials + '@') + "127.0.0.1:" + QByteArray::number(proxy->port()));
        if (row.proxy == Proxy::Bypassed)
            qputenv("no_proxy", "example.org," + host.toUtf8());
    }
    QString packagePath = u"/updates/Q-1.4.2-mac.zip"_s;  // the offered release's own path, once offered
    server.serve(manifestPath, {httpResponse(200, manifestListing(row.listing, row.zipName.toUtf8(), zipped(bundle())))});
    if (row.folderMissing) {
        ASSERT_TRUE(QDir(root.filePath(u"Applications"_s)).removeRecursively());
    }
    QStringList before = outside();
    if (row.folderMissing)
        before = QStringList{u"/Applications"_s} + before;
    const auto fault = [&](const QString &path, const QByteArray &body) {
        QByteArray bytes = row.respond ? row.respond(body) : httpResponse(200, body);
        const qsizetype sendOnly = row.send == Send::All ? -1 : row.send == Send::Nothing ? 0 : bytes.size() - 20;
        server.serve(path, {bytes, row.end, 0ms, sendOnly});
        server.setChain(row.chain);
        server.setRefusing(row.refused);
    };
    const auto [publicKey, secretKey] = keyPair('k');
    const auto c = controller(row.signature == Signature::None ? QByteArray() : publicKey);
    if (row.signature != Signature::None)
        signingKey = secretKey;
    if (row.totalLimit)
        c->setDownloadTimeLimit(300ms);
    if (row.kill != Kill::No)
        killInstallAt(row.kill);
    if (row.dismissPrompt && onMac) {
        qputenv("QUILLMERE_STANDIN_PROMPT", "dismiss");
    } else if (row.dismissPrompt) {
        // Answers as pkexec does when its prompt is dismissed.
        const QString elevator = work.filePath(u"pkexec"_s);
        ASSERT_EQ(writeInstallScript(elevator, u"#!/bin/sh\necho 'Error executing command as another "
                                               "user: Request dismissed' >&2\nexit 126\n"_s),
                  std::nullopt);
        c->setElevator({elevator, true});
    }
    if (row.where == Where::Manifest)
        fault(manifestPath, manifest);
    std::optional<test::SeenAlert> alert = step(*c, [&] { c->fetchMetadata(); });
    if (row.where == Where::Package) {
        ASSERT_FALSE(alert) << alert->informativeText.toStdString();
        EXPECT_EQ(test::textOf(*c, "statusLabel"), row.previous == Previous::None ? u"最新版本 1.4.2"_s : u"可以更新：1.3.0 → 1.4.2"_s);
        // As a client sends it: "a/../b" is "b".
        packagePath = c->currentRelease()->zipURL.adjusted(QUrl::NormalizePathSegments).path(QUrl::FullyEncoded);
        const QByteArray package = zipped(row.package, row.cut);
        fault(packagePath, row.signature == Signature::Tampered ? package + '\0' : package);
        if (row.signature != Signature::None) {
            const QByteArray signedBy = row.signature == Signature::OtherKey ? keyPair('o').second : secretKey;
            server.serve(packagePath + u".sig"_s, {row.signature == Signature::Missing ? httpResponse(404, "Not here\n")
                                                                                     : httpResponse(200, signature(package, signedBy))});
        }
        alert = press(*c);
    } else if (!alert) {
        alert = press(*c);
    }

    auto *button = test::control<QPushButton>(*c, "actionButton");
    const bool barShown = !test::control<ProgressBar>(*c, "progress")->isHidden();
    if (row.message.isEmpty() && !row.dismissPrompt) {
        EXPECT_FALSE(alert) << alert->informativeText.toStdString();
        expectCompleted(*c, row.previous);
        EXPECT_EQ(outside(), before);
        // Both the manifest and the package came through the proxy, or neither did. (Qt sends
        // the password only once the proxy has asked for it: two tunnels for each request.)
        if (proxy) {
            EXPECT_EQ(proxy->tunnelsTo(host.toUtf8() + ':' + QByteArray::number(server.url({}).port())),
                      row.proxy == Proxy::Bypassed ? 0 : row.proxy == Proxy::WithCredentials ? 4 : 2);
        }
        return;
    }
    if (row.dismissPrompt) {
        EXPECT_FALSE(alert);
        EXPECT_EQ(test::textOf(*c, "statusLabel"), u"已取消安装"_s);
        EXPECT_EQ(test::textOf(*c, "detailLabel"), u"没有做任何更改。"_s);
        EXPECT_EQ(button->text(), u"更新"_s);
        EXPECT_FALSE(barShown);
        c->setElevator({});
        qunsetenv("QUILLMERE_STANDIN_PROMPT");
    } else {
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->text, u"安装未完成"_s);
        EXPECT_TRUE(expected.match(alert->informativeText).hasMatch()) << alert->informativeText.toStdString();
        EXPECT_EQ(alert->informativeFormat, Qt::PlainText);  // a tool's words never become links
        EXPECT_EQ(alert->buttons, QStringList{u"好"_s});
        EXPECT_EQ(test::textOf(*c, "statusLabel"), u"安装未完成"_s);
        EXPECT_EQ(test::textOf(*c, "detailLabel"), alert->informativeText);
        EXPECT_EQ(button->text(), u"重试"_s);
        // A failed check or download hides the bar; a failure after the download leaves it full.
        EXPECT_EQ(barShown, !row.message.startsWith(checkFailed) && row.message != badManifest
                                && !row.message.startsWith(downloadFailed));
        // A package unlike its entry drops the release: the retry asks the server again.
        EXPECT_EQ(c->currentRelease().has_value(), row.where == Where::Package && row.message != packageMismatch);
    }
    if (row.message == packageMismatch) {  // refused before unpacking
        EXPECT_EQ(QDir(root.filePath(u"tmp"_s)).entryList({u"quillmere-stage-*"_s}, QDir::Dirs), QStringList());
    }
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(test::control<Spinner>(*c, "spinner")->isAnimating());
    EXPECT_EQ(outside(), before);
    for (const QFileInfo &own : QDir(root.filePath(u"tmp"_s)).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
        EXPECT_EQ(own.permissions() & 0x0077, 0) << own.fileName().toStdString();
    if (row.unread) {
        EXPECT_EQ(QDir(root.filePath(u"tmp"_s)).entryList({u"quillmere-stage-*"_s}, QDir::AllEntries), QStringList());
    }
    if (row.kill != Kill::No) {
        // Whenever it was killed, the previous copy is at the install path or in the Trash.
        EXPECT_TRUE(previousHeld());
        for (const char *name : {"BASH_ENV", "QUILLMERE_KILL_AT", "QUILLMERE_KILL_PARTIAL"})
            qunsetenv(name);
    } else if (row.smallApplications || !row.message.startsWith(u"安装失败："_s)) {
        // The installed copy was not touched, or was put back after a failed copy. (A copy that
        // cannot start is already in place.)
        EXPECT_EQ(plistValue(installPath, u"CFBundleShortVersionString"_s),
                  row.previous == Previous::None ? std::nullopt : std::optional(u"1.3.0"_s));
        EXPECT_EQ(trashed(), QStringList());
        EXPECT_FALSE(QFile::exists(started));
    }

    // A retry against a healthy server completes; after a failed check it first offers again.
    heal(bundle(), packagePath);
    if (row.resumes)
        server.respond(packagePath, test::rangedFile(zipped(bundle()), "\"v1\""));
    const qsizetype asked = server.requests().size();
    EXPECT_FALSE(press(*c));
    if (row.resumes) {  // and the manifest's digest says the whole file is right
        EXPECT_TRUE(server.requests().last().header("Range").startsWith("bytes="));
    }
    const bool checksAgain = row.where == Where::Manifest || row.message == packageMismatch;
    if (checksAgain) {
        EXPECT_EQ(test::textOf(*c, "statusLabel"), u"可以更新：1.3.0 → 1.4.2"_s);
        EXPECT_FALSE(press(*c));
    }
    // The manifest again after a failed check or a package unlike its entry; the signature
    // after the package.
    EXPECT_EQ(server.requests().size(), asked + (checksAgain ? 2 : 1) + (signingKey.isEmpty() ? 0 : 1));
    expectCompleted(*c, row.previous);
}

constexpr auto notFound = [](const QByteArray &) { return httpResponse(404, "<html><body>Not Found</body></html>"); };
constexpr auto serverError = [](const QByteArray &) { return httpResponse(500, "<html><body>Oops</body></html>"); };
constexpr auto noLength = [](const QByteArray &body) { return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body; };
constexpr auto lengthTooLong = [](const QByteArray &body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size() + 100) + "\r\n\r\n" + body;
};
QByteArray redirectTo(const QByteArray &location)
{
    return httpResponse(302, "").replace("\r\n\r\n", "\r\nLocation: " + location + "\r\n\r\n");
}
constexpr auto toPlainHttp = [](const QByteArray &) { return redirectTo("http://127.0.0.1:9/updates/x"); };

// The network layer's words (Qt's, in the test's C locale).
const QString timedOut = timeoutDescription();
const QString closed = u"Connection closed"_s;
const QString handshake = u"SSL handshake failed: "_s;
const QString noIssuer = u"The issuer certificate of a locally looked up certificate could not be found"_s;
const QString otherHost = u"The host name did not match any of the valid hosts for this certificate"_s;
const QString expired = u"The certificate has expired"_s;
const QByteArray severalMegabytes = manifest + QByteArray(4 << 20, '#').replace(QByteArray(64, '#'), QByteArray(63, '#') + '\n');

INSTANTIATE_TEST_SUITE_P(ServerFaults, InstallRoad, ::testing::Values(
    Row{.name = "manifestRefused", .where = Where::Manifest, .refused = true, .message = checkFailed + u"Connection refused"_s},
    Row{.name = "packageRefused", .refused = true, .message = downloadFailed + u"Connection refused"_s},
    Row{.name = "manifestResetBeforeHeaders", .where = Where::Manifest, .send = Send::Nothing, .end = Answer::End::Reset, .message = checkFailed + closed},
    Row{.name = "packageResetBeforeHeaders", .send = Send::Nothing, .end = Answer::End::Reset, .message = downloadFailed + closed},
    Row{.name = "manifestResetPartWay", .where = Where::Manifest, .send = Send::PartWay, .end = Answer::End::Reset, .message = checkFailed + closed},
    Row{.name = "packageResetPartWay", .send = Send::PartWay, .end = Answer::End::Reset, .message = downloadFailed + closed},
    Row{.name = "packageResetPartWayThenResumed", .respond = [](const QByteArray &b) { return httpResponse(200, b, "ETag: \"v1\"\r\n"); },
        .send = Send::PartWay, .end = Answer::End::Reset, .resumes = true, .message = downloadFailed + closed},
    Row{.name = "manifestStalled", .where = Where::Manifest, .send = Send::PartWay, .end = Answer::End::Stall, .message = checkFailed + timedOut},
    Row{.name = "packageStalled", .send = Send::PartWay, .end = Answer::End::Stall, .message = downloadFailed + timedOut},
    Row{.name = "packageOverTheTotalLimit", .send = Send::PartWay, .end = Answer::End::Stall, .totalLimit = true, .message = downloadFailed + timedOut},
    Row{.name = "manifestUntrusted", .where = Where::Manifest, .chain = Chain::Untrusted, .message = checkFailed + handshake + noIssuer},
    Row{.name = "packageUntrusted", .chain = Chain::Untrusted, .message = downloadFailed + handshake + noIssuer},
    Row{.name = "manifestForAnotherHost", .where = Where::Manifest, .chain = Chain::OtherHost, .message = checkFailed + handshake + otherHost},
    Row{.name = "packageForAnotherHost", .chain = Chain::OtherHost, .message = downloadFailed + handshake + otherHost},
    Row{.name = "manifestExpired", .where = Where::Manifest, .chain = Chain::Expired, .message = checkFailed + handshake + expired},
    Row{.name = "packageExpired", .chain = Chain::Expired, .message = downloadFailed + handshake + expired},
    Row{.name = "manifestRedirectedToHttp", .where = Where::Manifest, .respond = toPlainHttp, .message = checkFailed + u"Insecure redirect"_s},
    Row{.name = "packageRedirectedToHttp", .respond = toPlainHttp, .message = downloadFailed + u"Insecure redirect"_s},
    Row{.name = "manifest404", .where = Where::Manifest, .respond = notFound, .message = badManifest},
    Row{.name = "package404", .respond = notFound, .message = unpackFailed},
    Row{.name = "manifest500", .where = Where::Manifest, .respond = serverError, .message = badManifest},
    Row{.name = "package500", .respond = serverError, .message = unpackFailed},
    // An error status with a manifest is read like any other answer.
    Row{.name = "manifestBehind500", .where = Where::Manifest, .respond = [](const QByteArray &b) { return httpResponse(500, b); }},
    Row{.name = "manifestWithoutLength", .where = Where::Manifest, .respond = noLength},
    Row{.name = "packageWithoutLength", .respond = noLength},
    Row{.name = "packageRedirected", .respond = [](const QByteArray &) { return redirectTo("/moved/Q.zip"); }},
    Row{.name = "manifestShorterThanItsLength", .where = Where::Manifest, .respond = lengthTooLong, .message = checkFailed + closed},
    Row{.name = "packageShorterThanItsLength", .respond = lengthTooLong, .message = downloadFailed + closed},
    // The package is checked against its own entry, not against the first digest in the text.
    Row{.name = "packageAltered", .respond = [](const QByteArray &b) { return httpResponse(200, QByteArray(b).replace("Info.plist", "Info.plisT")); }, .listing = Listing::Entry, .message = packageMismatch},
    Row{.name = "packageCutWithoutLength", .respond = noLength, .send = Send::PartWay, .listing = Listing::Entry, .message = packageMismatch},
    Row{.name = "package404WithAnEntry", .respond = notFound, .listing = Listing::Entry, .message = packageMismatch},
    Row{.name = "dmgListedFirst", .listing = Listing::DmgFirst},
    Row{.name = "throughTheProxy", .proxy = Proxy::Lower},
    Row{.name = "throughTheProxyInCapitals", .proxy = Proxy::Upper},
    Row{.name = "throughTheProxyWithAPassword", .proxy = Proxy::WithCredentials},
    Row{.name = "proxyNotForThisHost", .proxy = Proxy::Bypassed},
    Row{.name = "manifestNotUtf8", .where = Where::Manifest, .respond = [](const QByteArray &) { return httpResponse(200, "version: 1.4.2\n  - url: caf\xe9.zip\n"); }, .message = badManifest},
    Row{.name = "manifestOfSeveralMegabytes", .where = Where::Manifest, .respond = [](const QByteArray &) { return httpResponse(200, severalMegabytes); }}),
    [](const auto &info) { return std::string(info.param.name); });

const QString outsideFolder = u"$ROOT/outside"_s;

// A tar whose one entry is a hard link to a file outside (the package is read as a zip only).
QByteArray tarWithAHardLink()
{
    QTemporaryDir work;
    const QString tar = work.filePath(u"p.tar"_s);
    EXPECT_EQ(run(u"/usr/bin/python3"_s, {u"-c"_s, u"import sys, tarfile\nwith tarfile.open(sys.argv[1], 'w') as t:\n"
                                                   "    e = tarfile.TarInfo('x'); e.type = tarfile.LNKTYPE; e.linkname = '../../outside/x'\n"
                                                   "    t.addfile(e)"_s, tar}).status, 0);
    QFile file(tar);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Bundle entries with `name` (below the bundle's Contents) replaced by a link to `target`, and a
// decoy with the right identifier beside the bundle.
QList<ZipEntry> linkedBundle(const QString &name, const QString &target)
{
    QList<ZipEntry> entries = bundle(u"com.quillmere.desktop"_s, name != u"MacOS/Quillmere Desktop");
    entries.removeIf([&](const ZipEntry &e) { return std::get<0>(e) == app + u"/Contents/"_s + name; });
    return entries << ZipEntry{app + u"/Contents/"_s + name, 0120777, target} << ZipEntry{u"decoy/Info.plist"_s, 0100644, std::get<2>(bundle().first())}
                   << ZipEntry{u"decoy/run"_s, 0100755, u"#!/bin/sh\n"_s};
}

INSTANTIATE_TEST_SUITE_P(HostilePackages, InstallRoad, ::testing::Values(
    Row{.name = "parentEntry", .package = bundle() << ZipEntry{u"../escape"_s, 0100644, u"x"_s}, .unread = true, .message = unsafe},
    Row{.name = "absoluteEntry", .package = bundle() << ZipEntry{outsideFolder + u"/absolute"_s, 0100644, u"x"_s}, .unread = true, .message = unsafe},
    Row{.name = "writeThroughALink", .package = bundle() << ZipEntry{u"link"_s, 0120777, u"decoy"_s} << ZipEntry{u"link/x"_s, 0100644, u"x"_s}, .unread = true, .message = unsafe},
    Row{.name = "deviceFile", .package = bundle() << ZipEntry{u"disk"_s, 060666, u""_s}, .unread = true, .message = unsafe},
    // A link that is harmless by itself lets the next one leave: "here/.." is the stage's parent.
    Row{.name = "linkThroughALink", .package = bundle() << ZipEntry{u"here"_s, 0120777, u"."_s} << ZipEntry{u"out"_s, 0120777, u"here/../x"_s}, .unread = true, .message = unsafe},
    Row{.name = "hardLinkOutside", .respond = [](const QByteArray &) { return httpResponse(200, tarWithAHardLink()); }, .unread = true, .message = unpackFailed},
    // It could point at the installed copy itself.
    Row{.name = "linkNamedLikeTheBundle", .package = {{app, 0120777, u"$ROOT/Applications/"_s + app}}, .unread = true, .message = unsafe},
    Row{.name = "contentsLinkedToTheInstalledCopy", .package = {{app + u"/Contents"_s, 0120777, u"../../../Applications/"_s + app + u"/Contents"_s}}, .unread = true, .message = unsafe},
    // These stay inside the stage directory, so only the bundle's own check sees them.
    Row{.name = "infoPlistLinkedOutside", .package = linkedBundle(u"Info.plist"_s, u"../../decoy/Info.plist"_s), .message = unsafe},
    Row{.name = "executableLinkedOutside", .package = linkedBundle(u"MacOS/Quillmere Desktop"_s, u"../../../decoy/run"_s), .message = unsafe},
    // A framework's links, one through the other, stay inside.
    Row{.name = "linksInsideInstall", .package = bundle() << ZipEntry{app + u"/Contents/Frameworks/Q.framework/Versions/A/Resources/r"_s, 0100644, u"r"_s}
                                                          << ZipEntry{app + u"/Contents/Frameworks/Q.framework/Versions/Current"_s, 0120777, u"A"_s}
                                                          << ZipEntry{app + u"/Contents/Frameworks/Q.framework/Resources"_s, 0120777, u"Versions/Current/Resources"_s}},
    Row{.name = "truncatedZip", .cut = 200, .message = unpackFailed},
    Row{.name = "htmlPage", .respond = [](const QByteArray &) { return httpResponse(200, "<html><body>Sign in</body></html>"); }, .message = unpackFailed},
    Row{.name = "nestedBundle", .package = bundle(u"com.quillmere.desktop"_s, true, u"x/"_s + app), .message = noBundle},
    Row{.name = "bundleIsAPlainFile", .package = {{app, 0100644, u"x"_s}}, .message = mismatch},
    Row{.name = "wrongIdentifier", .package = bundle(u"com.other.desktop"_s), .message = mismatch},
    Row{.name = "identifierInAnotherCase", .package = bundle(u"com.Quillmere.desktop"_s), .message = mismatch},
    Row{.name = "expandsBeyondTheDisk", .package = bundle() << ZipEntry{u"filler"_s, 0100644, u"zeros:67108864"_s}, .smallDisk = true, .message = unpackFailed},
    Row{.name = "encodedSlashesInTheName", .zipName = u"..%2F..%2Fescape.zip"_s},
    Row{.name = "parentFoldersInTheName", .zipName = u"../../escape.zip"_s},
    Row{.name = "veryLongName", .zipName = QString(300, u'n') + u".zip"_s},
    Row{.name = "promptDismissed", .dismissPrompt = true},
    Row{.name = "signedInstalls", .signature = Signature::Valid},
    Row{.name = "signatureMissing", .signature = Signature::Missing, .unread = true, .message = badSignature},
    Row{.name = "signedWithAnotherKey", .signature = Signature::OtherKey, .unread = true, .message = badSignature},
    Row{.name = "changedAfterSigning", .signature = Signature::Tampered, .unread = true, .message = badSignature},
    // The copy is in place, but it cannot be started: the failed state.
    Row{.name = "noExecutable", .package = bundle(u"com.quillmere.desktop"_s, false),
        .message = onMac ? u"安装失败：0:*: execution error: The application $ROOT/Applications/Quillmere Desktop.app cannot be opened because its executable is missing. (1)"_s
                         : u"安装失败：无法启动：$ROOT/Applications/Quillmere Desktop.app/Contents/MacOS/Quillmere Desktop 不存在或不可执行。"_s}),
    [](const auto &info) { return std::string(info.param.name); });

const QString installFailed = u"安装失败：*"_s;
const QList<ZipEntry> bigBundle = bundle() << ZipEntry{app + u"/Contents/filler"_s, 0100644, u"zeros:16777216"_s};

INSTANTIATE_TEST_SUITE_P(Installs, InstallRoad, ::testing::Values(
    Row{.name = "freshInstall", .previous = Previous::None},
    Row{.name = "freshInstallIntoAMissingFolder", .previous = Previous::None, .folderMissing = true},
    Row{.name = "updateOverARunningCopy", .previous = Previous::Running},
    // The copy runs out of space half-way: the previous copy comes back from the Trash, and
    // without one the half-made copy goes.
    Row{.name = "copyFails", .package = bigBundle, .smallApplications = true, .message = installFailed},
    Row{.name = "copyFailsOnFreshInstall", .package = bigBundle, .previous = Previous::None, .smallApplications = true, .message = installFailed},
    Row{.name = "killedBeforeTheMove", .kill = Kill::BeforeMove, .message = installFailed},
    Row{.name = "killedAfterTheMove", .kill = Kill::AfterMove, .message = installFailed},
    Row{.name = "killedDuringTheCopy", .kill = Kill::DuringCopy, .message = installFailed},
    Row{.name = "killedAfterTheCopy", .kill = Kill::AfterCopy, .message = installFailed}),
    [](const auto &info) { return std::string(info.param.name); });

// Pressing the button while the check runs starts nothing more, and an answer that comes
// after the controller has gone raises no alert.
TEST_F(InstallRoad, BusyGuardAndAnAnswerAfterTheControllerIsGone)
{
    server.serve(manifestPath, {httpResponse(404, "gone"), Answer::End::Close, 300ms});
    test::AlertDismisser alert;
    auto c = controller();
    c->fetchMetadata();
    c->primaryAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.requests().isEmpty(); }, 5000));
    c.reset();
    QTest::qWait(600);
    EXPECT_FALSE(alert.seen());
    EXPECT_EQ(server.requests().size(), 1);
    // The manifest is never taken from a cache.
    EXPECT_TRUE(server.requests().value(0).head.toLower().contains("\r\ncache-control: no-cache\r\n"));
}

TEST_F(InstallRoad, CancelDuringTheDownloadEndsTheApplicationWithoutAnAlert)
{
    const auto c = controller();
    ASSERT_FALSE(step(*c, [&] { c->fetchMetadata(); }));
    server.serve(u"/updates/Q-1.4.2-mac.zip"_s, {httpResponse(200, QByteArray(1 << 20, 'x')), Answer::End::Stall, 0ms, 1 << 19});
    QSignalSpy quit(c.get(), &InstallerController::terminateRequested);
    test::control<QPushButton>(*c, "actionButton")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::control<ProgressBar>(*c, "progress")->percentage() > 0; }, 10000));
    test::AlertDismisser alert;
    test::control<QPushButton>(*c, "cancelButton")->click();
    // Longer than the idle limit: a transfer left running would have failed by now.
    QTest::qWait(1300);
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(alert.seen());
    EXPECT_FALSE(c->placedPackage());
}

}  // namespace
}  // namespace quillmere
