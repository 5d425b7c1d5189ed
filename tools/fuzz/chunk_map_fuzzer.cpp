// Fuzzes the chunk map reader, which takes what an update server sends: every map it accepts
// has our parameters, tiles [0, size) with chunks of allowed lengths, and is written back to
// exactly the bytes it was read from.
#include "download/chunk_map.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace quillmere;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<ChunkMap> map = readChunkMap(bytes);
    if (!map)
        return 0;
    qint64 end = 0;
    for (const Chunk &chunk : map->chunks) {
        if (chunk.offset != end || chunk.length <= 0 || chunk.length > chunkParameters.maximum
            || chunk.hash.size() != chunkHashSize)
            std::abort();
        end += chunk.length;
    }
    if (map->parameters != chunkParameters || end != map->size || writeChunkMap(*map) != bytes)
        std::abort();
    return 0;
}
