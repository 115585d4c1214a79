// DecodeAhead: decodes chunks on worker threads while the reader works through others.
//
// A reader of a compressed partition spends about as long decoding each chunk as it does using it; handing
// the chunks it will want next to workers lets them all overlap. There is a worker for every core but one:
// a reader that would wait for a chunk being decoded decodes the next job waiting itself, so that it keeps
// its core busy instead of sleeping, and the scheduler does not put a reader and a worker that wake each
// other for every chunk on one core. The workers hold a few jobs and take the newest request first (what the
// reader asked for last is what it wants soonest). A job either carries a copy
// of the record's payload or names where the record lies in the image's first file, which the worker then
// reads and checks itself, so that the reader's thread does no reading for it. With a copy of the key for a
// protected partition, the worker never touches the store. Its results are only a head start: whoever takes a
// job that failed decodes the chunk again itself and reports what that gives.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "ChunkCodec.h"
#include "Keyring.h"
#include "platform/File.h"

namespace imbrex::zbi {

class DecodeAhead
{
public:
    static constexpr unsigned kMaxWorkers = 8;
    // Room for a reader's stretch of chunks ahead beside a job of every worker.
    static constexpr size_t kSlots = 24;

    // How many workers run once the first job starts: the machine's cores but one, at least one, at most
    // kMaxWorkers.
    static unsigned workerCount();

    struct Job
    {
        uint64_t generation = 0; // the store's read state the job belongs to
        uint64_t request = 0;    // jobs of a later request go first, and of one request the lower index
        uint64_t index = 0;
        uint32_t codec = 0; // codec id without the encryption bit
        uint32_t decodedLength = 0;
        std::optional<PartitionKey> key; // set when the payload is encrypted
        Salt salt{};
        // When set, the worker reads recordBytes at fileOffset of file (as much of them as there are) and
        // takes the payload from the record found there, if it is the one expected; codec is then the
        // record's. The file must stay open until the job is taken or dropped (see drain).
        platform::File *file = nullptr;
        uint64_t fileOffset = 0;
        uint32_t recordBytes = 0;
        RecordExpectation expected;
    };

    DecodeAhead() = default;
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    // Whether chunk index of generation waits, is being decoded or is decoded and not taken yet.
    bool holds(uint64_t generation, uint64_t index);
    // holds(), and a job still waiting moves up to request when that is later than its own.
    bool renew(uint64_t generation, uint64_t index, uint64_t request);
    // Queues payload for decoding as job; false when the worker cannot run. Jobs of another generation that
    // have not begun are dropped; when every slot is taken, the oldest job not begun (or else the oldest
    // decoded one) makes room.
    bool start(const Job &job, std::span<const std::byte> payload);
    // When chunk index of generation is decoded without error, or is being decoded and then is: moves its
    // bytes into out and returns true. A job the worker has not begun is dropped (the reader decodes it
    // sooner itself than it would wait behind the others) and false returned, as for a failed or unknown one.
    // While a worker decodes it, the caller decodes other jobs waiting with decoder.
    bool take(uint64_t generation, uint64_t index, std::vector<std::byte> &out, ChunkDecoder &decoder);
    // Moves the bytes of some job of generation that decoded without error into out and returns true with
    // its chunk's index; false when there is none (jobs that failed are dropped on the way).
    bool takeAnyDone(uint64_t generation, uint64_t *index, std::vector<std::byte> &out);
    // Drops every job not begun and waits for those being decoded: afterwards no worker reads a file of any
    // job.
    void drain();

private:
    enum class State
    {
        Free,
        Queued,
        Running,
        Done,
    };
    struct Slot
    {
        State state = State::Free;
        uint64_t order = 0; // when it was queued
        Job job;
        std::vector<std::byte> payload; // the worker's while Running; its first payloadLength bytes
        size_t payloadLength = 0;
        std::vector<std::byte> decoded; // the worker's while Running
        int result = 0;
    };

    void run();
    // Runs the job of slot, which was queued, with m_mutex held by lock on entry and exit.
    void runJob(Slot &slot, ChunkDecoder &decoder, std::unique_lock<std::mutex> &lock);
    static int decode(const Job &job, Slot &slot, ChunkDecoder &decoder);
    // The workers exist only in the process that started them (a forked child has none).
    bool workerHere() const;
    Slot *find(uint64_t generation, uint64_t index);
    Slot *oldest(State state);
    Slot *nextToRun();

    std::mutex m_mutex;
    // Two conditions, so that a finished job wakes only the reader and a new one only a worker.
    std::condition_variable m_jobQueued;
    std::condition_variable m_jobFinished;
    std::vector<std::thread> m_workers;
    uint64_t m_workerFork = 0; // the fork count of the process that started the workers
    bool m_stop = false;
    std::array<Slot, kSlots> m_slots;
    uint64_t m_order = 0;
};

} // namespace imbrex::zbi
