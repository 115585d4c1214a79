// How long work reports how far it got, and learns that the person asked to stop.
#pragma once

#include <cstdint>
#include <string>

namespace imbrex {

class Progress
{
public:
    virtual ~Progress() = default;
    // What is being done now, for example "Copying partition DATA ...".
    virtual void setAction(const std::string &text) { (void)text; }
    // done of total units are finished. Returns false when the work should stop (the person cancelled).
    virtual bool update(uint64_t done, uint64_t total) = 0;
};

// Progress for callers that show nothing and never cancel.
class NoProgress final : public Progress
{
public:
    bool update(uint64_t, uint64_t) override { return true; }
};

} // namespace imbrex
