#include "download/chunk_map.h"

#include <QFile>
#include <QtEndian>

#include <sodium.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace quillmere {

namespace {

// The gear table: 256 fixed pseudo-random words (splitmix64 from a fixed seed). Publisher and
// installer must cut alike, so it never changes within a map version.
constexpr std::array<quint64, 256> makeGear()
{
    std::array<quint64, 256> table{};
    quint64 seed = 0x5175696c6c6d6572ULL;
    for (quint64 &entry : table) {
        quint64 z = (seed += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        entry = z ^ (z >> 31);
    }
    return table;
}
constexpr std::array<quint64, 256> gear = makeGear();

// The hash shifts one bit per byte, so its top bits depend on the last 64 bytes only: bytes of a
// chunk before its last 64 ahead of the minimum need no hashing.
constexpr qint64 gearWindow = 64;

constexpr char mapMagic[8] = {'Q', 'M', 'C', 'H', 'U', 'N', 'K', 'S'};
constexpr quint32 mapVersion = 1;
constexpr qsizetype mapHeaderSize = 36;
constexpr qsizetype mapEntrySize = 4 + chunkHashSize;
static_assert(chunkMapMaximumBytes == mapHeaderSize + chunkMapMaximumChunks * mapEntrySize);

bool saneParameters(const ChunkParameters &p)
{
    return p.minimum > 0 && p.minimum <= p.average && p.average <= p.maximum
        && std::has_single_bit(quint32(p.average));
}

}  // namespace

struct Chunker::State {
    ChunkParameters parameters;
    quint64 mask = 0;
    quint64 hash = 0;
    qint64 offset = 0; // where the chunk being cut starts
    qint64 length = 0; // its bytes so far
    crypto_generichash_state blake;
    QList<Chunk> chunks;

    void startChunk()
    {
        hash = 0;
        length = 0;
        crypto_generichash_init(&blake, nullptr, 0, chunkHashSize);
    }
    void cut()
    {
        QByteArray digest(chunkHashSize, Qt::Uninitialized);
        crypto_generichash_final(&blake, reinterpret_cast<unsigned char *>(digest.data()), chunkHashSize);
        chunks.append(Chunk{offset, length, digest});
        offset += length;
        startChunk();
    }
};

Chunker::Chunker(ChunkParameters parameters) : state(std::make_unique<State>())
{
    Q_ASSERT(saneParameters(parameters));
    [[maybe_unused]] const int init = sodium_init();
    state->parameters = parameters;
    state->mask = ~quint64(0) << (64 - std::countr_zero(quint32(parameters.average)));
    state->startChunk();
}

Chunker::~Chunker() = default;

void Chunker::add(QByteArrayView bytes)
{
    State &s = *state;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const qint64 n = bytes.size();
    const qint64 minimum = s.parameters.minimum, maximum = s.parameters.maximum;
    qint64 i = 0, hashedFrom = 0;
    while (i < n) {
        if (s.length < minimum - gearWindow) {
            const qint64 skip = std::min(n - i, minimum - gearWindow - s.length);
            i += skip;
            s.length += skip;
            continue;
        }
        // Up to the minimum the hash only fills; from there each byte may end the chunk.
        const qint64 fill = std::clamp<qint64>(minimum - s.length, 0, n - i);
        for (const qint64 fillEnd = i + fill; i < fillEnd; ++i)
            s.hash = (s.hash << 1) + gear[data[i]];
        s.length += fill;
        if (s.length < minimum)
            break;
        bool atCut = false;
        const qint64 end = i + std::min(n - i, maximum - s.length);
        const qint64 start = i;
        while (i < end) {
            s.hash = (s.hash << 1) + gear[data[i++]];
            if ((s.hash & s.mask) == 0) {
                atCut = true;
                break;
            }
        }
        s.length += i - start;
        if (atCut || s.length == maximum) {
            crypto_generichash_update(&s.blake, data + hashedFrom, quint64(i - hashedFrom));
            hashedFrom = i;
            s.cut();
        }
    }
    crypto_generichash_update(&s.blake, data + hashedFrom, quint64(n - hashedFrom));
}

QList<Chunk> Chunker::finish()
{
    if (state->length > 0)
        state->cut();
    return std::exchange(state->chunks, {});
}

std::optional<QList<Chunk>> chunkFile(const QString &path, const ChunkParameters &parameters)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Chunker chunker(parameters);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(block.data(), block.size());
        if (read < 0)
            return std::nullopt;
        if (read == 0)
            break;
        chunker.add(QByteArrayView(block.constData(), read));
    }
    return chunker.finish();
}

// Big-endian throughout: the magic, the version, minimum, average and maximum (32 bits each),
// the size (64 bits) and the chunk count (32 bits); then per chunk its length (32 bits) and its
// hash. Offsets are implied: the chunks follow one another from 0.
QByteArray writeChunkMap(const ChunkMap &map)
{
    QByteArray bytes(mapHeaderSize + map.chunks.size() * mapEntrySize, Qt::Uninitialized);
    char *out = bytes.data();
    std::memcpy(out, mapMagic, sizeof mapMagic);
    qToBigEndian<quint32>(mapVersion, out + 8);
    qToBigEndian<quint32>(quint32(map.parameters.minimum), out + 12);
    qToBigEndian<quint32>(quint32(map.parameters.average), out + 16);
    qToBigEndian<quint32>(quint32(map.parameters.maximum), out + 20);
    qToBigEndian<quint64>(quint64(map.size), out + 24);
    qToBigEndian<quint32>(quint32(map.chunks.size()), out + 32);
    out += mapHeaderSize;
    for (const Chunk &chunk : map.chunks) {
        Q_ASSERT(chunk.hash.size() == chunkHashSize);
        qToBigEndian<quint32>(quint32(chunk.length), out);
        std::memcpy(out + 4, chunk.hash.constData(), chunkHashSize);
        out += mapEntrySize;
    }
    return bytes;
}

std::optional<ChunkMap> readChunkMap(QByteArrayView bytes)
{
    if (bytes.size() < mapHeaderSize || bytes.size() > chunkMapMaximumBytes
        || std::memcmp(bytes.data(), mapMagic, sizeof mapMagic) != 0)
        return std::nullopt;
    const char *in = bytes.data();
    if (qFromBigEndian<quint32>(in + 8) != mapVersion)
        return std::nullopt;
    ChunkMap map;
    map.parameters = {qint32(qFromBigEndian<quint32>(in + 12)), qint32(qFromBigEndian<quint32>(in + 16)),
                      qint32(qFromBigEndian<quint32>(in + 20))};
    const quint64 size = qFromBigEndian<quint64>(in + 24);
    const quint32 count = qFromBigEndian<quint32>(in + 32);
    if (map.parameters != chunkParameters || count > chunkMapMaximumChunks
        || bytes.size() != mapHeaderSize + qsizetype(count) * mapEntrySize
        || size > quint64(count) * quint64(chunkParameters.maximum))
        return std::nullopt;
    map.size = qint64(size);
    map.chunks.reserve(count);
    qint64 offset = 0;
    for (quint32 index = 0; index < count; ++index) {
        const char *entry = in + mapHeaderSize + qsizetype(index) * mapEntrySize;
        const qint64 length = qFromBigEndian<quint32>(entry);
        // Only the last chunk may be shorter than the minimum: the cut where the file ends.
        if (length == 0 || length > chunkParameters.maximum
            || (length < chunkParameters.minimum && index + 1 != count))
            return std::nullopt;
        map.chunks.append(Chunk{offset, length, QByteArray(entry + 4, chunkHashSize)});
        offset += length;
    }
    if (offset != map.size)
        return std::nullopt;
    return map;
}

}  // namespace quillmere
