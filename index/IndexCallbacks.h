// The questions the index asks the person while it works: how far an extending walk has come (with a chance
// to cancel it), and what to do about an index file that cannot be used. Windows and zbitool answer them.
#pragma once

#include <cstdint>
#include <string>

#include "common/Progress.h"

namespace imbrex::index {

// The action text of the progress shown while checkpoints are added.
inline constexpr const char *kExtendingIndexText = "Extending the image index ...";

class IndexProgress
{
public:
    virtual ~IndexProgress() = default;
    // A walk from block start towards block target has reached block current. Opens the progress on first
    // use. Returns 0, or 1894 when the person cancelled.
    virtual int ExtendIndexProgress(uint32_t start, uint32_t target, uint32_t current) = 0;
    // Closes the progress when it is open.
    virtual void CloseIndexProgress() = 0;
};

// The percentage ExtendIndexProgress shows: 100 x (current - start) / (target - start), rounded up, where a
// target equal to start counts as start + 1. Kept within 0 to 100.
int extendIndexPercent(uint32_t start, uint32_t target, uint32_t current);

// IndexProgress over a plain Progress (a terminal bar, a test's recorder): the action text is set on the
// first report and every report becomes update(percent, 100).
class ProgressIndexReporter final : public IndexProgress
{
public:
    explicit ProgressIndexReporter(Progress &progress) : m_progress(progress) {}
    int ExtendIndexProgress(uint32_t start, uint32_t target, uint32_t current) override;
    void CloseIndexProgress() override { m_open = false; }
    bool isOpen() const { return m_open; }

private:
    Progress &m_progress;
    bool m_open = false;
};

// Answers a failed read of the index file named in path while a partition is opened.
class IndexProblemHandler
{
public:
    virtual ~IndexProblemHandler() = default;
    // result is the code of the failed read. Returns 1894 to give the open up, 0 to go on with an empty
    // (temporary) index, or 1895 to read again from the path it has put into path.
    virtual int ShowIndexProblem(int result, std::string &path) = 0;
};

// The text a window shows for a code of the index file operations; empty for codes that have none.
std::string indexFileMessage(int code, const std::string &path);

} // namespace imbrex::index
