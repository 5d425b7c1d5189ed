// An update through the installer's own road (the real controller and window, offscreen) with a
// cache folder of the benchmark's choosing, timed from the primary button to the package checked
// and about to be staged (the first paint of "正在校验…"), where it ends the process: staging is
// not part of the figure. With "half", it kills itself (SIGKILL) once half the package is in.
// With "chunk FILE", it only cuts FILE into chunks and prints the CPU time that took.
//
//     quillmere-update-bench METADATA_URL CA_PEM TEMP_FOLDER CACHE_FOLDER [half]
//     quillmere-update-bench chunk FILE
#include "download/chunk_map.h"
#include "download/package_download.h"
#include "system/texts.h"
#include "ui/installer_controller.h"

#include "await_offer.h"
#include "bench_product.h"
#include "run_until.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

double cpuSoFar()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Ends the process at the first paint of the verifying text, printing the time since `wall` started.
class VerifyingWatch : public QObject {
public:
    VerifyingWatch(QLabel *label, const QElapsedTimer &started) : status(label), wall(started) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && status->text() == quillmere::verifyingText()) {
            std::printf("wall=%.3f cpu=%.3f\n", double(wall.nsecsElapsed()) / 1e9, cpuSoFar());
            std::fflush(stdout);
            std::_Exit(0);
        }
        return false;
    }

private:
    QLabel *status;
    const QElapsedTimer &wall;
};

}  // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "chunk") == 0) {
        const double before = cpuSoFar();
        const auto chunks = quillmere::chunkFile(QString::fromLocal8Bit(argv[2]), quillmere::chunkParameters);
        std::printf("chunk_cpu=%.3f chunks=%lld\n", cpuSoFar() - before, chunks ? qlonglong(chunks->size()) : -1LL);
        return chunks ? 0 : 1;
    }
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s METADATA_URL CA_PEM TEMP_FOLDER CACHE_FOLDER [half]\n       %s chunk FILE\n", argv[0], argv[0]);
        return 2;
    }
    const bool killAtHalf = argc == 6 && qstrcmp(argv[5], "half") == 0;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto product =
        quillmere::bench::benchProduct(argv[1], argv[2], QString::fromLocal8Bit(argv[3]) + u"/Applications"_s);
    if (!product)
        return 2;
    quillmere::InstallerController controller(*product);
    controller.setTemporaryFolder(QString::fromLocal8Bit(argv[3]));
    controller.setCacheFolder(QString::fromLocal8Bit(argv[4]));
    if (!quillmere::bench::awaitOffer(controller, argv[1]))
        return 1;
    QElapsedTimer wall;
    auto *status = controller.windowWidget()->findChild<QLabel *>(u"statusLabel"_s);
    VerifyingWatch watch(status, wall);
    status->installEventFilter(&watch);
    wall.start();
    controller.windowWidget()->findChild<QPushButton *>(u"actionButton"_s)->click();
    if (killAtHalf) {
        if (auto *download = controller.findChild<quillmere::PackageDownload *>()) {
            QObject::connect(download, &quillmere::PackageDownload::progress, [](qint64 written, qint64 total) {
                if (written * 2 >= total)
                    std::raise(SIGKILL);
            });
        }
    }
    quillmere::bench::runUntil([] { return false; }, 30min);
    std::fprintf(stderr, "the package was not checked: %s\n", qPrintable(status->text()));
    return 1;
}
