// Times the installer's signature check (packageSignatureValid) on a package: five runs, each
// figure printed, then the median. Exits non-zero when the signature does not verify.
//   quillmere-signature-bench PACKAGE SIGNATURE PUBLIC_KEY_BASE64
#include "install/package_signature.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PACKAGE SIGNATURE PUBLIC_KEY_BASE64\n", argv[0]);
        return 2;
    }
    const QString package = QString::fromLocal8Bit(argv[1]);
    const QString signature = QString::fromLocal8Bit(argv[2]);
    const QByteArray key = QByteArray::fromBase64(argv[3]);
    std::vector<double> seconds;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        if (!quillmere::packageSignatureValid(package, signature, key)) {
            std::fprintf(stderr, "the signature does not verify\n");
            return 1;
        }
        seconds.push_back(clock.nsecsElapsed() / 1e9);
        std::printf("run %d: %.3f s\n", run + 1, seconds.back());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("signature check of %.1f MiB: median %.3f s\n",
                QFileInfo(package).size() / 1048576.0, seconds[seconds.size() / 2]);
    return 0;
}
