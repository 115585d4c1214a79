#include "WriteBehind.h"

namespace imbrex::restore {

WriteBehind::WriteBehind(size_t pieceBytes) : m_pieces(kPieces)
{
    for (size_t i = 0; i < kPieces; ++i) {
        m_pieces[i].resize(pieceBytes);
        m_free.push_back(i);
    }
}

WriteBehind::~WriteBehind()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

std::span<std::byte> WriteBehind::piece()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return !m_free.empty(); });
    m_current = m_free.back();
    m_free.pop_back();
    return m_pieces[m_current];
}

void WriteBehind::write(platform::File &file, uint64_t offset, size_t length)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_jobs.push_back(Job{&file, offset, m_current, length});
        m_current = SIZE_MAX;
    }
    m_wake.notify_one();
}

bool WriteBehind::failed()
{
    std::lock_guard lock(m_mutex);
    return m_error != 0;
}

int WriteBehind::finish()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_jobs.empty() && !m_writing; });
    if (m_current != SIZE_MAX) { // given out but not handed over
        m_free.push_back(m_current);
        m_current = SIZE_MAX;
    }
    const int error = m_error;
    m_error = 0;
    return error;
}

void WriteBehind::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        const Job job = m_jobs.front();
        m_jobs.pop_front();
        m_writing = true;
        const bool skip = m_error != 0;
        lock.unlock();
        const int e =
            skip ? 0 : job.file->writeAt(job.offset, std::span(m_pieces[job.piece]).first(job.length));
        lock.lock();
        if (e != 0 && m_error == 0)
            m_error = e;
        m_writing = false;
        m_free.push_back(job.piece);
        m_done.notify_one();
    }
}

} // namespace imbrex::restore
