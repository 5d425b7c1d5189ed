#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace quillmere {

// Content-defined chunking with a gear hash: a cut falls where the hash of the last 64 bytes
// has its top log2(average) bits clear, so an insertion moves only the boundaries near it.
struct ChunkParameters {
    qint32 minimum = 0; // bytes: no cut before this
    qint32 average = 0; // bytes, a power of two: the cut mask
    qint32 maximum = 0; // bytes: always cut here
    friend bool operator==(const ChunkParameters &, const ChunkParameters &) = default;
};

// The ones packages are published with, chosen by measurement (bench/chunk-map): a zip's
// deflated entries hold a block header every few KiB, and a change early in an entry moves every
// later header, so each costs the chunk it falls in. Chunks of about 2 KiB keep an update of
// 5 MiB in 150 MiB under a tenth of the package, the map (about 2 MiB) included.
inline constexpr ChunkParameters chunkParameters{1024, 1024, 8192};

// The size of a chunk's hash: BLAKE2b with a 16-byte output (libsodium's crypto_generichash).
inline constexpr qsizetype chunkHashSize = 16;

struct Chunk {
    qint64 offset = 0;
    qint64 length = 0;
    QByteArray hash; // chunkHashSize bytes
};

struct ChunkMap {
    ChunkParameters parameters;
    qint64 size = 0;
    QList<Chunk> chunks;
};

// The most chunks a map may list, and so the most bytes its encoding may take: a map comes
// from the server, and is read only up to this.
inline constexpr qsizetype chunkMapMaximumChunks = 1 << 20;
inline constexpr qsizetype chunkMapMaximumBytes = 36 + chunkMapMaximumChunks * (4 + chunkHashSize);

// Cuts a stream into chunks as it arrives: add() any number of times, then finish(), once.
// The cuts depend only on the bytes, never on how they were split between add() calls.
class Chunker {
public:
    // parameters must be sane (0 < minimum <= average <= maximum, average a power of two).
    explicit Chunker(ChunkParameters parameters);
    ~Chunker();
    Chunker(const Chunker &) = delete;
    Chunker &operator=(const Chunker &) = delete;

    void add(QByteArrayView bytes);
    // The chunks of everything added, the last one cut where the stream ends; none for none.
    [[nodiscard]] QList<Chunk> finish();

private:
    struct State;
    std::unique_ptr<State> state;
};

// The chunks of a whole file, read in bounded blocks; nothing when it cannot be read.
[[nodiscard]] std::optional<QList<Chunk>> chunkFile(const QString &path, const ChunkParameters &parameters);

// The map's bytes (versioned header with the parameters, then the chunks), and back: nothing when
// the bytes are malformed, the version or the parameters are not ours (parameters must equal
// chunkParameters), or the chunks do not tile [0, size) exactly.
[[nodiscard]] QByteArray writeChunkMap(const ChunkMap &map);
[[nodiscard]] std::optional<ChunkMap> readChunkMap(QByteArrayView bytes);

}  // namespace quillmere
