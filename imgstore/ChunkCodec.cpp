#include "ChunkCodec.h"

#include <cstring>
#include <zlib.h>
#include <zstd.h>

#include "ZbiFormat.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

CompressionFamily familyOf(uint32_t code)
{
    if (code == 0)
        return CompressionFamily::None;
    if ((code >= 100 && code <= 105) || (code >= 300 && code <= 305))
        return CompressionFamily::Low;
    if (code >= 200 && code <= 209)
        return CompressionFamily::High;
    if (code >= 1 && code <= 8)
        return CompressionFamily::Legacy;
    return CompressionFamily::Unsupported;
}

bool codecAllowed(CompressionFamily family, uint32_t codecId)
{
    switch (family) {
    case CompressionFamily::None:
        return codecId == kCodecPlain;
    case CompressionFamily::Low:
    case CompressionFamily::High:
        return codecId == kCodecPlain || codecId == kCodecZstd;
    case CompressionFamily::Legacy:
        return codecId == kCodecDeflateStream;
    case CompressionFamily::Unsupported:
        break;
    }
    return false;
}

bool codecFitsPartition(uint32_t codec, uint32_t compressionCode, bool encrypted)
{
    return (codec & ~(kCodecMask | kCodecEncrypted)) == 0 && encrypted == ((codec & kCodecEncrypted) != 0) &&
           codecAllowed(familyOf(compressionCode), codec & kCodecMask);
}

int checkChunkRecord(std::span<const std::byte> bytes, const RecordExpectation &expected, ChunkHeader *header,
                     std::span<const std::byte> *record)
{
    ChunkHeader h;
    if (int e = parseChunkHeader(bytes, &h))
        return e;
    if (bytes.size() < kChunkHeaderSize || h.payloadLength > bytes.size() - kChunkHeaderSize)
        return rc::kDataDamaged;
    const auto whole = bytes.first(kChunkHeaderSize + h.payloadLength);
    if (h.index != expected.index || h.decodedLength != expected.decodedLength ||
        !codecFitsPartition(h.codec, expected.compressionCode, expected.encrypted))
        return rc::kDataDamaged;
    if (!verifyChunk(whole, whole.subspan(kChunkHeaderSize), h.checksum))
        return rc::kDataDamaged;
    *header = h;
    *record = whole;
    return rc::kOk;
}

struct ChunkEncoder::State
{
    CompressionFamily family = CompressionFamily::None;
    int level = 0;
    ZSTD_CCtx *zstd = nullptr;
    z_stream deflate{};
    bool deflateReady = false;

    ~State()
    {
        ZSTD_freeCCtx(zstd);
        if (deflateReady)
            deflateEnd(&deflate);
    }
};

ChunkEncoder::ChunkEncoder(uint32_t compressionCode) : m_state(std::make_unique<State>())
{
    m_state->family = familyOf(compressionCode);
    if (m_state->family == CompressionFamily::Low || m_state->family == CompressionFamily::High) {
        m_state->zstd = ZSTD_createCCtx();
        m_state->level = m_state->family == CompressionFamily::Low ? kLowLevel : kHighLevel;
    } else if (m_state->family == CompressionFamily::Legacy) {
        m_state->deflateReady = deflateInit(&m_state->deflate, static_cast<int>(compressionCode)) == Z_OK;
    }
}

ChunkEncoder::~ChunkEncoder() = default;

int ChunkEncoder::encode(std::span<const std::byte> plain, bool last, std::vector<std::byte> &payload,
                         uint32_t *codecId)
{
    State &s = *m_state;
    switch (s.family) {
    case CompressionFamily::None:
        break;
    case CompressionFamily::Low:
    case CompressionFamily::High: {
        if (!s.zstd)
            return rc::kOutOfMemory;
        payload.resize(ZSTD_compressBound(plain.size()));
        size_t n =
            ZSTD_compressCCtx(s.zstd, payload.data(), payload.size(), plain.data(), plain.size(), s.level);
        if (ZSTD_isError(n))
            return rc::kGeneralFailure;
        if (n < plain.size()) {
            payload.resize(n);
            *codecId = kCodecZstd;
            return rc::kOk;
        }
        break; // not smaller: stored plain
    }
    case CompressionFamily::Legacy: {
        if (!s.deflateReady)
            return rc::kOutOfMemory;
        // Deflate may need a little more room than the input; the payload limit leaves a margin for that only
        // when the chunk shrinks, so incompressible data is refused rather than stored broken.
        payload.resize(deflateBound(&s.deflate, static_cast<uLong>(plain.size())) + 16);
        s.deflate.next_in = reinterpret_cast<Bytef *>(const_cast<std::byte *>(plain.data()));
        s.deflate.avail_in = static_cast<uInt>(plain.size());
        s.deflate.next_out = reinterpret_cast<Bytef *>(payload.data());
        s.deflate.avail_out = static_cast<uInt>(payload.size());
        int z = deflate(&s.deflate, last ? Z_FINISH : Z_SYNC_FLUSH);
        if ((last ? z != Z_STREAM_END : z != Z_OK) || s.deflate.avail_in != 0)
            return rc::kGeneralFailure;
        payload.resize(payload.size() - s.deflate.avail_out);
        if (payload.size() > kMaxChunkPayload)
            return rc::kUnsupportedCompression;
        *codecId = kCodecDeflateStream;
        return rc::kOk;
    }
    case CompressionFamily::Unsupported:
        return rc::kUnsupportedCompression;
    }
    payload.assign(plain.begin(), plain.end());
    *codecId = kCodecPlain;
    return rc::kOk;
}

struct ChunkDecoder::State
{
    ZSTD_DCtx *zstd = nullptr;
    z_stream inflate{};
    bool inflateReady = false;
    uint64_t nextStreamChunk = 0;

    ~State()
    {
        ZSTD_freeDCtx(zstd);
        if (inflateReady)
            inflateEnd(&inflate);
    }
};

ChunkDecoder::ChunkDecoder() : m_state(std::make_unique<State>()) {}

ChunkDecoder::~ChunkDecoder() = default;

uint64_t ChunkDecoder::nextStreamChunk() const
{
    return m_state->nextStreamChunk;
}

void ChunkDecoder::resetStream()
{
    if (m_state->inflateReady)
        inflateEnd(&m_state->inflate);
    m_state->inflateReady = false;
    m_state->nextStreamChunk = 0;
}

int ChunkDecoder::decode(uint32_t codecId, uint64_t index, std::span<const std::byte> payload,
                         std::span<std::byte> out)
{
    State &s = *m_state;
    switch (codecId) {
    case kCodecPlain:
        if (payload.size() != out.size())
            return rc::kDataDamaged;
        std::memcpy(out.data(), payload.data(), out.size());
        return rc::kOk;
    case kCodecZstd: {
        if (!s.zstd && !(s.zstd = ZSTD_createDCtx()))
            return rc::kOutOfMemory;
        size_t n = ZSTD_decompressDCtx(s.zstd, out.data(), out.size(), payload.data(), payload.size());
        if (ZSTD_isError(n) || n != out.size())
            return rc::kDataDamaged;
        return rc::kOk;
    }
    case kCodecDeflateStream: {
        if (index != s.nextStreamChunk)
            return rc::kWrongSequence;
        if (index == 0) {
            resetStream();
            if (inflateInit(&s.inflate) != Z_OK)
                return rc::kOutOfMemory;
            s.inflateReady = true;
        }
        if (!s.inflateReady)
            return rc::kWrongSequence;
        s.inflate.next_in = reinterpret_cast<Bytef *>(const_cast<std::byte *>(payload.data()));
        s.inflate.avail_in = static_cast<uInt>(payload.size());
        s.inflate.next_out = reinterpret_cast<Bytef *>(out.data());
        s.inflate.avail_out = static_cast<uInt>(out.size());
        int z = inflate(&s.inflate, Z_SYNC_FLUSH);
        if ((z != Z_OK && z != Z_STREAM_END) || s.inflate.avail_out != 0 || s.inflate.avail_in != 0) {
            resetStream();
            return rc::kDataDamaged;
        }
        ++s.nextStreamChunk;
        return rc::kOk;
    }
    default:
        return rc::kDataDamaged;
    }
}

} // namespace imbrex::zbi
