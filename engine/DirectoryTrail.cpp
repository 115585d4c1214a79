#include "engine/DirectoryTrail.h"

#include <algorithm>
#include <new>

#include "common/ResultCodes.h"
#include "engine/Diagnostics.h"

namespace imbrex::engine {

namespace {

std::string_view trimSeparators(std::string_view path)
{
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    return path;
}

bool liesAbove(std::string_view upper, std::string_view path)
{
    return path.size() > upper.size() && path.substr(0, upper.size()) == upper && path[upper.size()] == '\\';
}

} // namespace

size_t directoryDepth(std::string_view path)
{
    path = trimSeparators(path);
    return path.empty() ? 0 : static_cast<size_t>(std::count(path.begin(), path.end(), '\\')) + 1;
}

bool DirectoryTrail::contains(uint64_t id) const
{
    return id == m_root ||
           std::any_of(m_steps.begin(), m_steps.end(), [id](const Step &step) { return step.id == id; });
}

int DirectoryTrail::push(uint64_t id)
{
    if (contains(id)) {
        logDiagnostic("directory walk: %llu is already on the path\n", static_cast<unsigned long long>(id));
        return rc::kDirectoryLoop;
    }
    if (m_steps.size() >= kMaxDirectoryDepth) {
        logDiagnostic("directory walk: more than %zu directories deep\n", kMaxDirectoryDepth);
        return rc::kDirectoryLoop;
    }
    try {
        m_steps.push_back(Step{std::string(), id});
    } catch (const std::bad_alloc &) {
        return rc::kOutOfMemory;
    }
    return rc::kOk;
}

void DirectoryTrail::pop()
{
    if (!m_steps.empty())
        m_steps.pop_back();
}

int DirectoryTrail::enter(std::string_view path, uint64_t id)
{
    path = trimSeparators(path);
    // The remembered steps always run from the root downwards, so those that do not lie above path are at
    // the end.
    while (!m_steps.empty() && !liesAbove(m_steps.back().path, path))
        m_steps.pop_back();
    if (path.empty())
        return rc::kOk;
    if (directoryDepth(path) > kMaxDirectoryDepth) {
        logDiagnostic("directory walk: more than %zu directories deep\n", kMaxDirectoryDepth);
        return rc::kDirectoryLoop;
    }
    if (contains(id)) {
        logDiagnostic("directory walk: %llu is already on the path\n", static_cast<unsigned long long>(id));
        return rc::kDirectoryLoop;
    }
    try {
        m_steps.push_back(Step{std::string(path), id});
    } catch (const std::bad_alloc &) {
        return rc::kOutOfMemory;
    }
    return rc::kOk;
}

} // namespace imbrex::engine
