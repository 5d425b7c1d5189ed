// Chunk-map benchmark driver: chunks two versions of a package with several parameter sets and
// prints, for each, what an update from the first to the second must fetch (the bytes of the
// second's chunks the first lacks, plus its map), the map's size and the time to chunk.
#include "download/chunk_map.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

#include <cstdio>
#include <ctime>

using namespace quillmere;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: %s OLD_ZIP NEW_ZIP\n", argv[0]);
        return 2;
    }
    const double size = double(QFileInfo(args[2]).size());
    const ChunkParameters sets[] = {
        {256, 512, 4096}, {256, 1024, 8192}, {512, 1024, 8192}, {1024, 1024, 8192}, {512, 2048, 16384}, {1024, 2048, 16384}, {1024, 4096, 16384},
        {2048, 8192, 32768}, {4096, 16384, 65536},
    };
    std::printf("| minimum | average | maximum | chunks | mean chunk | map | fetched (chunks + map) | share | chunking CPU (new) |\n"
                "|---|---|---|---|---|---|---|---|---|\n");
    for (const ChunkParameters &p : sets) {
        const std::optional<QList<Chunk>> before = chunkFile(args[1], p);
        const std::clock_t start = std::clock();
        const std::optional<QList<Chunk>> after = chunkFile(args[2], p);
        const double cpu = double(std::clock() - start) / CLOCKS_PER_SEC;
        if (!before || !after)
            return 1;
        QSet<QByteArray> known;
        for (const Chunk &c : *before)
            known.insert(c.hash);
        qint64 missing = 0;
        for (const Chunk &c : *after)
            missing += known.contains(c.hash) ? 0 : c.length;
        const qint64 map = writeChunkMap(ChunkMap{p, qint64(size), *after}).size();
        std::printf("| %d | %d | %d | %lld | %.0f | %.1f KiB | %.2f MiB | %.3f | %.2f s |%s\n", p.minimum, p.average,
                    p.maximum, qlonglong(after->size()), size / double(after->size()), double(map) / 1024,
                    double(missing + map) / 1048576, double(missing + map) / size, cpu,
                    p == chunkParameters ? " (published)" : "");
    }
    return 0;
}
