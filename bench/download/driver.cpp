// Downloads the package that a manifest offers through the installer's own road: the real
// controller and window (offscreen), from the offer to the placed file, and prints what it
// cost: wall time, CPU time, minor page faults, and resident memory before and at the peak.
//
//     quillmere-download-bench METADATA_URL CA_PEM TEMP_FOLDER
#include "download/package_download.h"
#include "system/product.h"
#include "ui/installer_controller.h"

#include "await_offer.h"
#include "bench_product.h"
#include "run_until.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

using quillmere::bench::runUntil;

namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// CPU seconds and minor page faults of this process so far.
struct Usage {
    double cpu;
    long faults;
};

Usage usageSoFar()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
            usage.ru_minflt};
}

// A line of /proc/self/status, in kibibytes.
long statusKiB(const char *field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLong();
    return -1;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s METADATA_URL CA_PEM TEMP_FOLDER\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto product =
        quillmere::bench::benchProduct(argv[1], argv[2], QString::fromLocal8Bit(argv[3]) + u"/Applications"_s);
    if (!product)
        return 2;

    quillmere::InstallerController controller(*product);
    controller.setTemporaryFolder(QString::fromLocal8Bit(argv[3]));
    if (!quillmere::bench::awaitOffer(controller, argv[1]))
        return 1;
    runUntil([] { return false; }, 200ms); // let start-up settle before measuring the idle state
    const long idleKiB = statusKiB("VmRSS:");
    // Restart the peak from here, so start-up does not count.
    QFile clearRefs(u"/proc/self/clear_refs"_s);
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    clearRefs.close();

    // The transfer ends with its last progress notice (written == total); placement is a
    // rename. Staging follows and refuses the package (random bytes, not a zip): its alert is
    // dismissed, it is not part of the figure.
    QElapsedTimer wall;
    double seconds = -1, cpu = -1;
    long faults = -1;
    QTimer dismiss;
    QObject::connect(&dismiss, &QTimer::timeout, [] {
        if (QWidget *alert = QApplication::activeModalWidget())
            alert->close();
    });
    dismiss.start(50);
    const Usage before = usageSoFar();
    wall.start();
    controller.windowWidget()->findChild<QPushButton *>(u"actionButton"_s)->click();
    auto *download = controller.findChild<quillmere::PackageDownload *>();
    QObject::connect(download, &quillmere::PackageDownload::progress, [&](qint64 written, qint64 total) {
        if (written == total && seconds < 0) {
            seconds = double(wall.nsecsElapsed()) / 1e9;
            const Usage after = usageSoFar();
            cpu = after.cpu - before.cpu;
            faults = after.faults - before.faults;
        }
    });
    const bool placed = runUntil([&] { return controller.placedPackage() && !controller.working(); }, 30min);
    if (!placed || seconds < 0) {
        std::fprintf(stderr, "the download did not complete\n");
        return 1;
    }
    const qint64 bytes = QFileInfo(*controller.placedPackage()).size();
    QFile::remove(*controller.placedPackage());
    std::printf("bytes=%lld wall=%.3f cpu=%.3f faults=%ld idle_kib=%ld peak_kib=%ld\n",
                static_cast<long long>(bytes), seconds, cpu, faults, idleKiB, statusKiB("VmHWM:"));
    return 0;
}
