// DecodeAhead: decodes one chunk on a second thread while the reader works through the chunk before it.
//
// A reader going forward through a compressed partition spends about as long decoding each chunk as it does
// using it; handing the next chunk to a worker lets the two overlap. The worker holds one job at a time and
// works only on bytes handed to it (a copy of the record's payload and, for a protected partition, of the
// key), so it never touches the store. Its result is only a head start: whoever takes a job that failed
// decodes the chunk again itself and reports what that gives.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "Keyring.h"

namespace imbrex::zbi {

class DecodeAhead
{
public:
    struct Job
    {
        uint64_t generation = 0; // the store's read state the job belongs to
        uint64_t index = 0;
        uint32_t codec = 0; // codec id without the encryption bit
        uint32_t decodedLength = 0;
        std::optional<PartitionKey> key; // set when the payload is encrypted
        Salt salt{};
    };

    DecodeAhead() = default;
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    // Whether a job is still being decoded; a new one can be started only when not.
    bool busy();
    // Starts decoding payload as job; false (and nothing started) while busy or when the worker cannot run.
    bool start(const Job &job, std::span<const std::byte> payload);
    // When the last job started is chunk index of generation and decoded without error: waits for it if it
    // is still running, moves its bytes into out and returns true. Otherwise returns false.
    bool take(uint64_t generation, uint64_t index, std::vector<std::byte> &out);

private:
    void run();
    // The worker exists only in the process that started it (a forked child has none).
    bool workerHere() const;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_worker;
    pid_t m_workerProcess = 0;
    bool m_stop = false;
    enum class State
    {
        Idle,
        Pending,
        Done,
    } m_state = State::Idle;
    Job m_job;
    std::vector<std::byte> m_payload;
    std::vector<std::byte> m_decoded;
    int m_result = 0;
};

} // namespace imbrex::zbi
