// Keys of password-protected partitions.
//
// A partition's password value (ConvertPasswordString) is kept in the catalog so that callers can compare a
// typed password with it; it is a 32-bit hash and no secret. The key that encrypts the partition's data is
// derived from the password text itself with Argon2id and a random salt of the partition, so the file alone
// does not give it away. The store sees password texts only through ConvertPasswordString, which remembers
// them for the life of the process; when a protected partition is read or written, the remembered text whose
// value matches is used, and a key check stored beside the salt tells a right text from a colliding one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace imbrex::zbi {

struct PartitionRecord;

inline constexpr size_t kKeySize = 32;
inline constexpr size_t kKeyCheckSize = 16;
using PartitionKey = std::array<std::byte, kKeySize>;
using KeyCheck = std::array<std::byte, kKeyCheckSize>;
using Salt = std::array<std::byte, 16>;

// The 32-bit password value of a text: FNV-1a over its bytes; 0 only for the empty text.
uint32_t passwordValue(const std::string &text);

void rememberPasswordText(const std::string &text);
void forgetPasswordTexts();

// A new key for a partition protected by value: fresh salt, key and key check. Fails when no remembered text
// has this value.
bool newPartitionKey(uint32_t value, Salt *salt, PartitionKey *key, KeyCheck *check);
// The key of a stored partition, when a remembered text of this value opens it.
std::optional<PartitionKey> findPartitionKey(uint32_t value, const Salt &salt, const KeyCheck &check);

// Encrypts or decrypts (the same operation) the payload of chunk index; the bitmap uses kBitmapKeyIndex.
inline constexpr uint64_t kBitmapKeyIndex = UINT64_MAX;
void applyKeystream(const PartitionKey &key, const Salt &salt, uint64_t index, std::span<std::byte> data);

// The same for a partition of the catalog: its salt, key check and password value.
Salt saltOf(const PartitionRecord &p);
std::optional<PartitionKey> findPartitionKey(const PartitionRecord &p);
void applyKeystream(const PartitionKey &key, const PartitionRecord &p, uint64_t index,
                    std::span<std::byte> data);

} // namespace imbrex::zbi
