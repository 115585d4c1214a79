#include "DecodeAhead.h"

#include <algorithm>
#include <cstring>

#include "ChunkCodec.h"
#include "common/ResultCodes.h"
#include "platform/Process.h"

namespace imbrex::zbi {

DecodeAhead::~DecodeAhead()
{
    if (m_workers.empty())
        return;
    if (!workerHere()) {
        // A copy of the object in a forked child: the threads are not in this process.
        for (std::thread &worker : m_workers)
            worker.detach();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_jobQueued.notify_all();
    for (std::thread &worker : m_workers)
        worker.join();
}

unsigned DecodeAhead::workerCount()
{
    // The reader decodes too while it would wait, so one thread per core decodes.
    return std::clamp(std::thread::hardware_concurrency(), 2u, kMaxWorkers + 1) - 1;
}

bool DecodeAhead::workerHere() const
{
    return !m_workers.empty() && m_workerFork == platform::forkGeneration();
}

DecodeAhead::Slot *DecodeAhead::find(uint64_t generation, uint64_t index)
{
    for (Slot &slot : m_slots)
        if (slot.state != State::Free && slot.job.generation == generation && slot.job.index == index)
            return &slot;
    return nullptr;
}

DecodeAhead::Slot *DecodeAhead::oldest(State state)
{
    Slot *found = nullptr;
    for (Slot &slot : m_slots)
        if (slot.state == state && (!found || slot.order < found->order))
            found = &slot;
    return found;
}

DecodeAhead::Slot *DecodeAhead::nextToRun()
{
    Slot *found = nullptr;
    for (Slot &slot : m_slots)
        if (slot.state == State::Queued &&
            (!found || slot.job.request > found->job.request ||
             (slot.job.request == found->job.request && slot.job.index < found->job.index)))
            found = &slot;
    return found;
}

bool DecodeAhead::holds(uint64_t generation, uint64_t index)
{
    if (!workerHere())
        return false;
    std::lock_guard lock(m_mutex);
    return find(generation, index) != nullptr;
}

bool DecodeAhead::renew(uint64_t generation, uint64_t index, uint64_t request)
{
    if (!workerHere())
        return false;
    std::lock_guard lock(m_mutex);
    Slot *slot = find(generation, index);
    if (slot && slot->state == State::Queued && request > slot->job.request)
        slot->job.request = request;
    return slot != nullptr;
}

bool DecodeAhead::start(const Job &job, std::span<const std::byte> payload)
{
    if (!m_workers.empty() && !workerHere())
        return false;
    if (m_workers.empty()) {
        m_workerFork = platform::forkGeneration();
        const unsigned count = workerCount();
        try {
            m_workers.reserve(count);
            while (m_workers.size() < count)
                m_workers.emplace_back([this] { run(); });
        } catch (...) {
            // Fewer threads than cores still help; with none every chunk is decoded by the reader.
            if (m_workers.empty())
                return false;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        if (find(job.generation, job.index))
            return true;
        for (Slot &slot : m_slots)
            if (slot.state != State::Running && slot.job.generation != job.generation)
                slot.state = State::Free;
        // There are more slots than workers, so some slot is not running.
        static_assert(kSlots > kMaxWorkers);
        Slot *slot = oldest(State::Free);
        if (!slot)
            slot = oldest(State::Queued);
        if (!slot)
            slot = oldest(State::Done);
        if (!slot)
            return false;
        slot->job = job;
        // The buffer only grows: making it longer fills the new part with zeros, which costs as much as the
        // copy.
        if (slot->payload.size() < payload.size())
            slot->payload.resize(payload.size());
        if (!payload.empty())
            std::memcpy(slot->payload.data(), payload.data(), payload.size());
        slot->payloadLength = payload.size();
        slot->order = ++m_order;
        slot->state = State::Queued;
    }
    m_jobQueued.notify_one();
    return true;
}

bool DecodeAhead::take(uint64_t generation, uint64_t index, std::vector<std::byte> &out,
                       ChunkDecoder &decoder)
{
    if (!workerHere())
        return false;
    std::unique_lock lock(m_mutex);
    Slot *slot = find(generation, index);
    if (!slot)
        return false;
    if (slot->state == State::Queued) {
        slot->state = State::Free;
        return false;
    }
    // While a worker decodes the chunk, the reader decodes the next job waiting instead of sleeping: it stays
    // busy on its own core, and a reader and worker that wake each other for every chunk tend to be put on
    // one core by the scheduler.
    while (slot->state == State::Running) {
        Slot *next = nextToRun();
        if (!next) {
            m_jobFinished.wait(lock, [slot] { return slot->state != State::Running; });
            break;
        }
        runJob(*next, decoder, lock);
    }
    slot->state = State::Free;
    if (slot->result != rc::kOk)
        return false;
    out.swap(slot->decoded);
    return true;
}

void DecodeAhead::drain()
{
    if (!workerHere())
        return;
    std::unique_lock lock(m_mutex);
    for (Slot &slot : m_slots)
        if (slot.state == State::Queued)
            slot.state = State::Free;
    m_jobFinished.wait(lock, [this] {
        for (const Slot &slot : m_slots)
            if (slot.state == State::Running)
                return false;
        return true;
    });
}

bool DecodeAhead::takeAnyDone(uint64_t generation, uint64_t *index, std::vector<std::byte> &out)
{
    if (!workerHere())
        return false;
    std::lock_guard lock(m_mutex);
    for (Slot &slot : m_slots) {
        if (slot.state != State::Done || slot.job.generation != generation)
            continue;
        slot.state = State::Free;
        if (slot.result != rc::kOk)
            continue;
        *index = slot.job.index;
        out.swap(slot.decoded);
        return true;
    }
    return false;
}

int DecodeAhead::decode(const Job &job, Slot &slot, ChunkDecoder &decoder)
{
    uint32_t codec = job.codec;
    bool encrypted = job.key.has_value();
    std::span<std::byte> payload = std::span(slot.payload).first(slot.payloadLength);
    if (job.file) {
        if (slot.payload.size() < job.recordBytes)
            slot.payload.resize(job.recordBytes);
        size_t got = 0;
        if (int e = job.file->readAt(job.fileOffset, std::span(slot.payload).first(job.recordBytes), &got))
            return e;
        ChunkHeader header;
        std::span<const std::byte> record;
        if (int e = checkChunkRecord(std::span(slot.payload).first(got), job.expected, &header, &record))
            return e;
        codec = header.codec & kCodecMask;
        encrypted = (header.codec & kCodecEncrypted) != 0;
        if (encrypted && !job.key)
            return rc::kWrongPassword;
        payload = std::span(slot.payload).subspan(kChunkHeaderSize, record.size() - kChunkHeaderSize);
    }
    if (encrypted)
        applyKeystream(*job.key, job.salt, job.index, payload);
    slot.decoded.resize(job.decodedLength);
    return decoder.decode(codec, job.index, payload, slot.decoded);
}

void DecodeAhead::runJob(Slot &slot, ChunkDecoder &decoder, std::unique_lock<std::mutex> &lock)
{
    slot.state = State::Running;
    const Job job = slot.job;
    lock.unlock();
    int result = rc::kOk;
    try {
        result = decode(job, slot, decoder);
    } catch (...) {
        result = rc::kOutOfMemory;
    }
    lock.lock();
    slot.result = result;
    slot.state = State::Done;
    m_jobFinished.notify_all();
}

void DecodeAhead::run()
{
    ChunkDecoder decoder;
    std::unique_lock lock(m_mutex);
    for (;;) {
        Slot *slot = nullptr;
        m_jobQueued.wait(lock, [this, &slot] { return m_stop || (slot = nextToRun()) != nullptr; });
        if (m_stop)
            return;
        runJob(*slot, decoder, lock);
    }
}

} // namespace imbrex::zbi
