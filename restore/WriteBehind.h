// WriteBehind: writes the pieces of a large file on a thread of its own while the next pieces are read.
//
// Writing into the target takes about as long as reading and checking (or decoding) the same bytes out of the
// image; one after the other on one thread, each waits for the other. The reader takes a free piece, fills
// it and hands it over with where it goes; the writer writes the pieces in the order handed over. A write
// that fails stops the writing of the rest; finish tells the first failure once every piece is done with.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/File.h"

namespace imbrex::restore {

class WriteBehind
{
public:
    static constexpr size_t kPieces = 4;

    explicit WriteBehind(size_t pieceBytes);
    ~WriteBehind();
    WriteBehind(const WriteBehind &) = delete;
    WriteBehind &operator=(const WriteBehind &) = delete;

    // A free piece to fill, waiting while every piece is being written.
    std::span<std::byte> piece();
    // Hands over the first length bytes of the piece given out last, to be written at offset of file. The
    // file must stay open until finish returns.
    void write(platform::File &file, uint64_t offset, size_t length);
    // True once a write failed: what is still handed over is not written.
    bool failed();
    // Waits until every piece handed over is written or dropped; the first failure since the last finish,
    // or 0.
    int finish();

private:
    struct Job
    {
        platform::File *file = nullptr;
        uint64_t offset = 0;
        size_t piece = 0;
        size_t length = 0;
    };

    void run();

    std::vector<std::vector<std::byte>> m_pieces;
    std::vector<size_t> m_free;  // pieces nobody uses
    size_t m_current = SIZE_MAX; // the piece given out last
    std::deque<Job> m_jobs;      // handed over, not yet written
    bool m_writing = false;      // the writer holds a job
    int m_error = 0;
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_wake; // the writer: a job or the stop
    std::condition_variable m_done; // the reader: a piece free or all written
    std::thread m_thread;           // started with the first write
};

} // namespace imbrex::restore
