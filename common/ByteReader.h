// Sequential readers and writers of little-endian records. A ByteReader remembers its first failure: once a
// read runs past the end, every later read yields zero and ok() stays false, so a parser can read a whole
// record and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace imbrex {

class ByteReader
{
public:
    explicit ByteReader(std::span<const std::byte> data) : m_data(data) {}

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    // A length-prefixed (u16) byte string of at most maxLength bytes.
    std::string shortString(size_t maxLength);
    std::span<const std::byte> bytes(size_t count);
    void skip(size_t count) { (void)bytes(count); }

    bool ok() const { return m_ok; }
    size_t offset() const { return m_offset; }
    size_t remaining() const { return m_ok ? m_data.size() - m_offset : 0; }

private:
    bool take(size_t count);

    std::span<const std::byte> m_data;
    size_t m_offset = 0;
    bool m_ok = true;
};

class ByteWriter
{
public:
    void u8(uint8_t v) { m_data.push_back(static_cast<std::byte>(v)); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void u64(uint64_t v);
    void shortString(const std::string &s);
    void bytes(std::span<const std::byte> b) { m_data.insert(m_data.end(), b.begin(), b.end()); }
    void zeros(size_t count) { m_data.resize(m_data.size() + count); }

    size_t size() const { return m_data.size(); }
    std::vector<std::byte> &data() { return m_data; }
    std::vector<std::byte> take() { return std::move(m_data); }

private:
    std::vector<std::byte> m_data;
};

} // namespace imbrex
