#include "DecodeAhead.h"

#include <unistd.h>

#include "ChunkCodec.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

DecodeAhead::~DecodeAhead()
{
    if (!m_worker.joinable())
        return;
    if (!workerHere()) {
        m_worker.detach(); // a copy of the object in a forked child: the thread is not in this process
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

bool DecodeAhead::workerHere() const
{
    return m_worker.joinable() && m_workerProcess == getpid();
}

bool DecodeAhead::busy()
{
    if (!workerHere())
        return false;
    std::lock_guard lock(m_mutex);
    return m_state == State::Pending;
}

bool DecodeAhead::start(const Job &job, std::span<const std::byte> payload)
{
    if (m_worker.joinable() && !workerHere())
        return false;
    if (!m_worker.joinable()) {
        try {
            m_workerProcess = getpid();
            m_worker = std::thread([this] { run(); });
        } catch (...) {
            return false; // no thread: every chunk is decoded by the reader
        }
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Pending)
            return false;
        m_job = job;
        m_payload.assign(payload.begin(), payload.end());
        m_state = State::Pending;
    }
    m_changed.notify_all();
    return true;
}

bool DecodeAhead::take(uint64_t generation, uint64_t index, std::vector<std::byte> &out)
{
    if (!workerHere())
        return false;
    std::unique_lock lock(m_mutex);
    if (m_state == State::Idle || m_job.generation != generation || m_job.index != index)
        return false;
    m_changed.wait(lock, [this] { return m_state != State::Pending; });
    m_state = State::Idle;
    if (m_result != rc::kOk)
        return false;
    out.swap(m_decoded);
    return true;
}

void DecodeAhead::run()
{
    ChunkDecoder decoder;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || m_state == State::Pending; });
        if (m_stop)
            return;
        // The job's buffers belong to the worker while it is pending.
        const Job job = m_job;
        lock.unlock();
        if (job.key)
            applyKeystream(*job.key, job.salt, job.index, m_payload);
        int result = rc::kOk;
        try {
            m_decoded.resize(job.decodedLength);
            result = decoder.decode(job.codec, job.index, m_payload, m_decoded);
        } catch (...) {
            result = rc::kOutOfMemory;
        }
        lock.lock();
        m_result = result;
        m_state = State::Done;
        m_changed.notify_all();
    }
}

} // namespace imbrex::zbi
