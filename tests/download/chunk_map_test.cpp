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
    QRandomGenerator generator(seed);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

QList<Chunk> chunksOf(const QByteArray &bytes, qsizetype piece = 1 << 30)
{
    Chunker chunker(chunkParameters);
    for (qsizetype at = 0; at < bytes.size(); at += piece)
        chunker.add(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at)));
    return chunker.finish();
}

QByteArray blake128(QByteArrayView bytes)
{
    QByteArray out(chunkHashSize, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(out.data()), chunkHashSize,
                       reinterpret_cast<const unsigned char *>(bytes.data()), quint64(bytes.size()), nullptr, 0);
    return out;
}

// Chunks tile the bytes, each of a length the parameters allow, each hashed; the cuts do not
// depend on how the stream was split; an insertion changes only the chunks around it.
TEST(ChunkMap, CutsDependOnContentAlone)
{
    const QByteArray bytes = randomBytes(3 << 20, 7), zeros(300000, '\0');
    const QList<Chunk> chunks = chunksOf(bytes);
    ASSERT_GT(chunks.size(), 60);
    qint64 offset = 0;
    for (const Chunk &c : chunks) {
        EXPECT_EQ(c.offset, offset);
        EXPECT_TRUE(c.length <= chunkParameters.maximum && (c.length >= chunkParameters.minimum || &c == &chunks.last()));
        EXPECT_EQ(c.hash, blake128(QByteArrayView(bytes).sliced(c.offset, c.length)));
        offset += c.length;
    }
    EXPECT_EQ(offset, bytes.size());
    for (const qsizetype piece : {1, 63, 4096, 65537}) {
        const QList<Chunk> again = chunksOf(bytes, piece);
        ASSERT_EQ(again.size(), chunks.size()) << piece;
        for (qsizetype i = 0; i < chunks.size(); ++i)
            EXPECT_TRUE(again[i].length == chunks[i].length && again[i].hash == chunks[i].hash) << piece << ' ' << i;
    }
    // Without content to cut at, chunks end at the maximum.
    const QList<Chunk> flat = chunksOf(zeros);
    EXPECT_EQ(flat.size(), (zeros.size() + chunkParameters.maximum - 1) / chunkParameters.maximum);
    EXPECT_TRUE(chunksOf({}).isEmpty());

    QByteArray changed = bytes;
    changed.insert(bytes.size() / 2, randomBytes(1000, 8));
    QSet<QByteArray> before;
    for (const Chunk &c : chunks)
        before.insert(c.hash);
    qsizetype newChunks = 0;
    for (const Chunk &c : chunksOf(changed))
        newChunks += !before.contains(c.hash);
    EXPECT_LE(newChunks, 2);
}

TEST(ChunkMap, RoundTripAndMalformedMapsRefused)
{
    const QByteArray bytes = randomBytes(1 << 20, 9);
    const ChunkMap map{chunkParameters, bytes.size(), chunksOf(bytes)};
    const QByteArray encoded = writeChunkMap(map);
    EXPECT_EQ(encoded.size(), 36 + 20 * map.chunks.size());
    const std::optional<ChunkMap> read = readChunkMap(encoded);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->parameters, chunkParameters);
    EXPECT_EQ(read->size, map.size);
    ASSERT_EQ(read->chunks.size(), map.chunks.size());
    for (qsizetype i = 0; i < map.chunks.size(); ++i)
        EXPECT_TRUE(read->chunks[i].offset == map.chunks[i].offset && read->chunks[i].length == map.chunks[i].length
                    && read->chunks[i].hash == map.chunks[i].hash) << i;
    EXPECT_TRUE(readChunkMap(writeChunkMap(ChunkMap{chunkParameters, 0, {}})));

    const auto patched = [&](qsizetype at, quint32 value) {
        QByteArray copy = encoded;
        qToBigEndian<quint32>(value, copy.data() + at);
        return copy;
    };
    const qsizetype last = 36 + 20 * (map.chunks.size() - 1);
    const QList<Chunk> shortFirst{{0, 100, QByteArray(16, 'h')}, {100, 100, QByteArray(16, 'h')}};
    const std::pair<const char *, QByteArray> rows[] = {
        {"empty", {}}, {"truncated", encoded.chopped(1)}, {"a byte more", encoded + 'x'},
        {"magic", QByteArray(encoded).replace(0, 1, "X")}, {"version", patched(8, 2)},
        {"minimum", patched(12, chunkParameters.minimum / 2)}, {"average", patched(16, chunkParameters.average * 2)},
        {"maximum", patched(20, chunkParameters.maximum + 1)}, {"size", patched(28, quint32(bytes.size() + 1))},
        {"count", patched(32, quint32(map.chunks.size() + 1))}, {"empty chunk", patched(last, 0)},
        {"over the maximum", patched(36, chunkParameters.maximum + 1)},
        {"short chunk not last", writeChunkMap(ChunkMap{chunkParameters, 200, shortFirst})},
        {"too many chunks", QByteArray(chunkMapMaximumBytes + 20, '\0').replace(0, 36, patched(32, chunkMapMaximumChunks + 1).left(36))},
    };
    for (const auto &[what, bad] : rows)
        EXPECT_FALSE(readChunkMap(bad)) << what;
}

TEST(ChunkMap, ChunkFile)
{
    QTemporaryDir dir;
    const QByteArray bytes = randomBytes(3 << 20, 11);
    QFile file(dir.filePath(QStringLiteral("p.zip")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const std::optional<QList<Chunk>> chunks = chunkFile(file.fileName(), chunkParameters);
    ASSERT_TRUE(chunks);
    const QList<Chunk> direct = chunksOf(bytes);
    ASSERT_EQ(chunks->size(), direct.size());
    EXPECT_EQ(chunks->last().hash, direct.last().hash);
    EXPECT_FALSE(chunkFile(dir.filePath(QStringLiteral("missing")), chunkParameters));
}

}  // namespace
}  // namespace quillmere
