// The floor for the installer's start-up: a bare Qt window holding one label in Chinese, on the
// same offscreen platform as the road driver. Prints the time from process launch
// (QUILLMERE_BENCH_LAUNCH_NS, the caller's CLOCK_REALTIME in nanoseconds just before it started
// this program) to the label painted, as `painted=SECONDS`.
#include "paint_watch.h"
#include "run_until.h"

#include <QApplication>
#include <QLabel>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

int main(int argc, char *argv[])
{
    const double launched = qEnvironmentVariable("QUILLMERE_BENCH_LAUNCH_NS").toDouble() / 1e9;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLabel label(u"正在获取最新版本…"_s);
    const quillmere::bench::PaintWatch painted(&label, [] { return true; });
    label.show();
    if (!quillmere::bench::runUntil([&] { return painted.seen(); }, 10s)) {
        std::fprintf(stderr, "the label was never painted\n");
        return 1;
    }
    std::printf("painted=%.3f\n", launched > 0 ? painted.at() - launched : -1.0);
    return 0;
}
