#include "ByteReader.h"

#include <limits>

#include "ByteOrder.h"

namespace imbrex {

bool ByteReader::take(size_t count)
{
    if (!m_ok || m_data.size() - m_offset < count) {
        m_ok = false;
        return false;
    }
    return true;
}

uint8_t ByteReader::u8()
{
    if (!take(1))
        return 0;
    return std::to_integer<uint8_t>(m_data[m_offset++]);
}

uint16_t ByteReader::u16()
{
    if (!take(2))
        return 0;
    uint16_t v = loadLe16(m_data, m_offset);
    m_offset += 2;
    return v;
}

uint32_t ByteReader::u32()
{
    if (!take(4))
        return 0;
    uint32_t v = loadLe32(m_data, m_offset);
    m_offset += 4;
    return v;
}

uint64_t ByteReader::u64()
{
    if (!take(8))
        return 0;
    uint64_t v = loadLe64(m_data, m_offset);
    m_offset += 8;
    return v;
}

std::string ByteReader::shortString(size_t maxLength)
{
    uint16_t length = u16();
    if (length > maxLength) {
        m_ok = false;
        return {};
    }
    auto raw = bytes(length);
    return std::string(reinterpret_cast<const char *>(raw.data()), raw.size());
}

std::span<const std::byte> ByteReader::bytes(size_t count)
{
    if (!take(count))
        return {};
    auto out = m_data.subspan(m_offset, count);
    m_offset += count;
    return out;
}

void ByteWriter::u16(uint16_t v)
{
    std::byte b[2];
    storeLe16(b, 0, v);
    bytes(b);
}

void ByteWriter::u32(uint32_t v)
{
    std::byte b[4];
    storeLe32(b, 0, v);
    bytes(b);
}

void ByteWriter::u64(uint64_t v)
{
    std::byte b[8];
    storeLe64(b, 0, v);
    bytes(b);
}

void ByteWriter::shortString(const std::string &s)
{
    size_t length =
        s.size() > std::numeric_limits<uint16_t>::max() ? std::numeric_limits<uint16_t>::max() : s.size();
    u16(static_cast<uint16_t>(length));
    bytes(std::as_bytes(std::span(s.data(), length)));
}

} // namespace imbrex
