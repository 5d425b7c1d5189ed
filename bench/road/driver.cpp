// Walks the installer's whole road through the real controller and window (offscreen): the
// release check up to the offer on screen, then from the press of the primary button through
// download, unpacking, verification and the install script to "安装完成" on screen. Prints the
// times as key=value pairs:
//
//     offer_launch   process launch (QUILLMERE_BENCH_LAUNCH_NS, the caller's CLOCK_REALTIME in
//                    nanoseconds just before it started this program) to the offer painted
//     offer_ctl      controller created to the offer painted
//     road           primary button pressed to "安装完成" painted
//     download       primary button pressed to the last byte written (the rest of the road is
//                    placing, unpacking, verifying and the install script)
//
//     quillmere-road-bench METADATA_URL CA_PEM INSTALL_FOLDER TEMP_FOLDER
//
// The install script moves a previous copy to the Trash of $HOME: the caller points HOME at a
// scratch folder.
#include "download/package_download.h"
#include "system/product.h"
#include "ui/installer_controller.h"

#include "bench_product.h"
#include "paint_watch.h"
#include "run_until.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

using quillmere::bench::PaintWatch;
using quillmere::bench::realtimeSeconds;
using quillmere::bench::runUntil;

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

int main(int argc, char *argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s METADATA_URL CA_PEM INSTALL_FOLDER TEMP_FOLDER\n", argv[0]);
        return 2;
    }
    const double launched = qEnvironmentVariable("QUILLMERE_BENCH_LAUNCH_NS").toDouble() / 1e9;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto product = quillmere::bench::benchProduct(argv[1], argv[2], QString::fromLocal8Bit(argv[3]));
    if (!product)
        return 2;

    const double created = realtimeSeconds();
    quillmere::InstallerController controller(*product);
    controller.setTemporaryFolder(QString::fromLocal8Bit(argv[4]));
    auto *status = controller.windowWidget()->findChild<QLabel *>(u"statusLabel"_s);
    auto *button = controller.windowWidget()->findChild<QPushButton *>(u"actionButton"_s);
    const PaintWatch offer(status, [&] { return controller.currentRelease() && !controller.working(); });
    const PaintWatch completed(status, [&] { return controller.installed(); });
    // A failure's alert would wait for a click: it is read, closed and reported.
    QString failure;
    QTimer dismiss;
    QObject::connect(&dismiss, &QTimer::timeout, [&] {
        if (QWidget *alert = QApplication::activeModalWidget()) {
            failure = controller.windowWidget()->findChild<QLabel *>(u"detailLabel"_s)->text();
            alert->close();
        }
    });
    dismiss.start(50);

    controller.windowWidget()->show();
    controller.fetchMetadata();
    if (!runUntil([&] { return offer.seen() || !failure.isEmpty(); }, 30s) || !offer.seen()) {
        std::fprintf(stderr, "no offer from %s: %s\n", argv[1], qPrintable(failure));
        return 1;
    }

    const double pressed = realtimeSeconds();
    double downloaded = -1;
    button->click();
    QObject::connect(controller.findChild<quillmere::PackageDownload *>(), &quillmere::PackageDownload::progress,
                     [&](qint64 written, qint64 total) {
                         if (written == total && downloaded < 0)
                             downloaded = realtimeSeconds();
                     });
    if (!runUntil([&] { return completed.seen() || !failure.isEmpty(); }, 30min) || !completed.seen()) {
        std::fprintf(stderr, "the road did not complete: %s\n", qPrintable(failure));
        return 1;
    }
    std::printf("offer_launch=%.3f offer_ctl=%.3f road=%.3f download=%.3f\n",
                launched > 0 ? offer.at() - launched : -1.0, offer.at() - created,
                completed.at() - pressed, downloaded - pressed);
    return 0;
}
