#include "Keyring.h"

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sodium.h>

#include "ZbiFormat.h"

namespace imbrex::zbi {

namespace {

struct Keyring
{
    std::mutex mutex;
    std::set<std::string> texts;
    // Argon2id is slow on purpose; a key once derived is kept for the process.
    std::map<std::pair<std::string, std::string>, PartitionKey> derived;
};

Keyring &keyring()
{
    static Keyring instance;
    return instance;
}

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string saltKey(const Salt &salt)
{
    return std::string(reinterpret_cast<const char *>(salt.data()), salt.size());
}

std::optional<PartitionKey> derive(const std::string &text, const Salt &salt)
{
    Keyring &k = keyring();
    auto cacheKey = std::make_pair(saltKey(salt), text);
    if (auto it = k.derived.find(cacheKey); it != k.derived.end())
        return it->second;
    PartitionKey key;
    if (crypto_pwhash(reinterpret_cast<unsigned char *>(key.data()), key.size(), text.data(), text.size(),
                      reinterpret_cast<const unsigned char *>(salt.data()),
                      crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                      crypto_pwhash_ALG_ARGON2ID13) != 0)
        return std::nullopt;
    k.derived.emplace(cacheKey, key);
    return key;
}

KeyCheck checkOf(const PartitionKey &key)
{
    static const char kLabel[] = "imbrex partition key check";
    KeyCheck check;
    crypto_generichash(reinterpret_cast<unsigned char *>(check.data()), check.size(),
                       reinterpret_cast<const unsigned char *>(kLabel), sizeof kLabel - 1,
                       reinterpret_cast<const unsigned char *>(key.data()), key.size());
    return check;
}

} // namespace

uint32_t passwordValue(const std::string &text)
{
    if (text.empty())
        return 0;
    uint32_t hash = 2166136261u;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

void rememberPasswordText(const std::string &text)
{
    if (text.empty())
        return;
    std::lock_guard lock(keyring().mutex);
    keyring().texts.insert(text);
}

void forgetPasswordTexts()
{
    std::lock_guard lock(keyring().mutex);
    keyring().texts.clear();
    keyring().derived.clear();
}

bool newPartitionKey(uint32_t value, Salt *salt, PartitionKey *key, KeyCheck *check)
{
    if (!sodiumReady())
        return false;
    std::lock_guard lock(keyring().mutex);
    for (const std::string &text : keyring().texts) {
        if (passwordValue(text) != value)
            continue;
        randombytes_buf(salt->data(), salt->size());
        auto derived = derive(text, *salt);
        if (!derived)
            return false;
        *key = *derived;
        *check = checkOf(*key);
        return true;
    }
    return false;
}

std::optional<PartitionKey> findPartitionKey(uint32_t value, const Salt &salt, const KeyCheck &check)
{
    if (!sodiumReady())
        return std::nullopt;
    std::lock_guard lock(keyring().mutex);
    for (const std::string &text : keyring().texts) {
        if (passwordValue(text) != value)
            continue;
        auto key = derive(text, salt);
        if (key && sodium_memcmp(checkOf(*key).data(), check.data(), check.size()) == 0)
            return key;
    }
    return std::nullopt;
}

void applyKeystream(const PartitionKey &key, const Salt &salt, uint64_t index, std::span<std::byte> data)
{
    unsigned char nonce[crypto_stream_xchacha20_NONCEBYTES] = {};
    std::memcpy(nonce, salt.data(), salt.size());
    for (size_t i = 0; i < 8; ++i)
        nonce[salt.size() + i] = static_cast<unsigned char>(index >> (8 * i));
    auto *bytes = reinterpret_cast<unsigned char *>(data.data());
    crypto_stream_xchacha20_xor(bytes, bytes, data.size(), nonce,
                                reinterpret_cast<const unsigned char *>(key.data()));
}

Salt saltOf(const PartitionRecord &p)
{
    Salt salt;
    std::memcpy(salt.data(), p.salt, salt.size());
    return salt;
}

std::optional<PartitionKey> findPartitionKey(const PartitionRecord &p)
{
    KeyCheck check;
    std::memcpy(check.data(), p.keyCheck, check.size());
    return findPartitionKey(p.password, saltOf(p), check);
}

void applyKeystream(const PartitionKey &key, const PartitionRecord &p, uint64_t index,
                    std::span<std::byte> data)
{
    applyKeystream(key, saltOf(p), index, data);
}

} // namespace imbrex::zbi
