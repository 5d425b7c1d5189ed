// quillmere-publish ZIP OUTDIR [--key SECRET_KEY]: turns the package a build made into what
// the update server serves.
#include "publish.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString key;
    if (const qsizetype at = args.indexOf(QStringLiteral("--key")); at >= 0 && at + 1 < args.size()) {
        key = args.takeAt(at + 1);
        args.removeAt(at);
    }
    if (args.size() != 2 || args.first().startsWith(u'-')) {
        std::fprintf(stderr, "usage: quillmere-publish ZIP OUTDIR [--key SECRET_KEY]\n");
        return 2;
    }
    const quillmere::PublishResult result = quillmere::publishPackage(
        {args[0], args[1], key, QStringLiteral(QUILLMERE_PUBLISH_BUNDLE_ID), QDateTime::currentDateTimeUtc()});
    if (!result.error.isEmpty()) {
        std::fprintf(stderr, "quillmere-publish: %s\n", qPrintable(result.error));
        return 1;
    }
    std::printf("published %s: %lld bytes, %lld chunks (map %lld bytes)%s\n", qPrintable(result.version),
                qlonglong(result.size), qlonglong(result.chunks), qlonglong(result.mapBytes),
                key.isEmpty() ? "" : ", signed");
    return 0;
}
