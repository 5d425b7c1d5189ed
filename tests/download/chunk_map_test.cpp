#include "download/chunk_map.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <sodium.h>

namespace quillmere {
namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// The chunks' lengths and hashes, as a map holds them.
QByteArray described(const QList<Chunk> &chunks) { return writeChunkMap(ChunkMap{chunkParameters, 0, chunks}); }

QList<Chunk> chunksOf(QByteArrayView bytes, qsizetype piece = 1 << 30)
{
    Chunker chunker(chunkParameters);
    for (qsizetype at = 0; at < bytes.size(); at += piece)
        chunker.add(bytes.sliced(at, std::min(piece, bytes.size() - at)));
    return chunker.finish();
}

// Chunks tile the bytes, each of a length the parameters allow and with its own hash; the cuts
// do not depend on how the stream arrives; an insertion changes only the chunks around it.
TEST(ChunkMap, CutsDependOnContentAlone)
{
    const QByteArray bytes = randomBytes(3 << 20, 7);
    const QList<Chunk> chunks = chunksOf(bytes);
    ASSERT_GT(chunks.size(), 600);
    qint64 end = 0;
    for (const Chunk &c : chunks) {
        QByteArray hash(chunkHashSize, '\0');
        crypto_generichash(reinterpret_cast<uchar *>(hash.data()), chunkHashSize, reinterpret_cast<const uchar *>(bytes.constData()) + c.offset, quint64(c.length), nullptr, 0);
        EXPECT_TRUE(c.offset == end && c.hash == hash) << c.offset;
        end += c.length;
    }
    EXPECT_TRUE(readChunkMap(writeChunkMap(ChunkMap{chunkParameters, bytes.size(), chunks})));  // lengths allowed, tiled
    for (const qsizetype piece : {1, 63, 65537})
        EXPECT_EQ(described(chunksOf(bytes, piece)), described(chunks)) << piece;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("p.zip")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush());
    EXPECT_EQ(described(chunkFile(file.fileName(), chunkParameters).value_or(QList<Chunk>())), described(chunks));
    EXPECT_FALSE(chunkFile(dir.filePath(QStringLiteral("missing")), chunkParameters));
    // Without content to cut at, chunks end at the maximum.
    EXPECT_EQ(chunksOf(QByteArray(300000, '\0')).size(), 300000 / chunkParameters.maximum + 1);
    EXPECT_TRUE(chunksOf({}).isEmpty());

    const QByteArray before = described(chunks);
    qsizetype fresh = 0;
    for (const Chunk &c : chunksOf(QByteArray(bytes).insert(bytes.size() / 2, randomBytes(1000, 8))))
        fresh += !before.contains(c.hash);
    EXPECT_LE(fresh, 3);
}

TEST(ChunkMap, RoundTripAndMalformedMapsRefused)
{
    const QByteArray bytes = randomBytes(1 << 20, 9);
    const ChunkMap map{chunkParameters, bytes.size(), chunksOf(bytes)};
    const QByteArray encoded = writeChunkMap(map);
    EXPECT_EQ(encoded.size(), 36 + 20 * map.chunks.size());
    const std::optional<ChunkMap> read = readChunkMap(encoded);
    ASSERT_TRUE(read && read->parameters == chunkParameters && read->size == map.size);
    EXPECT_EQ(described(read->chunks), described(map.chunks));
    EXPECT_TRUE(readChunkMap(writeChunkMap(ChunkMap{chunkParameters, 0, {}})));

    const auto patched = [&](qsizetype at, quint32 value) { QByteArray copy = encoded; qToBigEndian<quint32>(value, copy.data() + at); return copy; };
    const QList<Chunk> shortFirst{{0, 100, QByteArray(16, 'h')}, {100, 100, QByteArray(16, 'h')}};
    const std::pair<const char *, QByteArray> rows[] = {
        {"empty", {}}, {"truncated", encoded.chopped(1)}, {"a byte more", encoded + 'x'},
        {"magic", QByteArray(encoded).replace(0, 1, "X")}, {"version", patched(8, 2)},
        {"minimum", patched(12, chunkParameters.minimum / 2)}, {"average", patched(16, chunkParameters.average * 2)},
        {"maximum", patched(20, chunkParameters.maximum + 1)}, {"size", patched(28, quint32(bytes.size() + 1))},
        {"count", patched(32, quint32(map.chunks.size() + 1))}, {"empty chunk", patched(encoded.size() - 20, 0)},
        {"over the maximum", patched(36, chunkParameters.maximum + 1)},
        {"short chunk not last", writeChunkMap(ChunkMap{chunkParameters, 200, shortFirst})},
        {"over the size limit", patched(32, chunkMapMaximumChunks + 1) + QByteArray(20 * (chunkMapMaximumChunks + 1), '\0')},
    };
    for (const auto &[what, bad] : rows)
        EXPECT_FALSE(readChunkMap(bad)) << what;
}

}  // namespace
}  // namespace quillmere
