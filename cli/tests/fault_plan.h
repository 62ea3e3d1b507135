#pragma once

// Faults injected into the file layer's system calls for the length of a
// scope: the n-th operation of one kind fails with an error, or an action
// runs just before an operation (to change a file under the reader's feet).

#include "store/system_calls.h"

#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <string_view>

namespace fault_plan {

using corvellactl::FileOperation;

inline constexpr FileOperation every_operation[] = {
    FileOperation::Open,   FileOperation::Read,   FileOperation::Write,
    FileOperation::Flush,  FileOperation::Rename, FileOperation::Remove,
};

// The error each kind of operation fails with: what a full or failing disk
// or a vanished directory would give.
inline int typical_error(FileOperation operation)
{
    switch (operation) {
    case FileOperation::Open:
        return ENOENT;
    case FileOperation::Read:
    case FileOperation::Flush:
        return EIO;
    case FileOperation::Write:
        return ENOSPC;
    case FileOperation::Rename:
        return EXDEV;
    case FileOperation::Remove:
        return EBUSY;
    }
    return EIO;
}

inline std::string_view name(FileOperation operation)
{
    switch (operation) {
    case FileOperation::Open:
        return "open";
    case FileOperation::Read:
        return "read";
    case FileOperation::Write:
        return "write";
    case FileOperation::Flush:
        return "flush";
    case FileOperation::Rename:
        return "rename";
    case FileOperation::Remove:
        return "remove";
    }
    return "?";
}

struct Plan {
    FileOperation operation { FileOperation::Write };
    // The call of that kind that fails, counted from 1; 0 fails none.
    std::uint64_t nth { 0 };
    int error { EIO };
    // Further calls of the kind that fail, by number, with their errors.
    std::map<std::uint64_t, int> more {};
    // Runs before every call of the kind, with the call's number.
    std::function<void(std::uint64_t)> before {};
    // Faults at the first call of other kinds, each once.
    std::map<FileOperation, int> first_of {};
    std::uint64_t seen { 0 };
    bool fired { false };
};

inline Plan* active = nullptr;

inline int hook(FileOperation operation)
{
    if (active == nullptr)
        return 0;
    if (auto const first = active->first_of.find(operation); first != active->first_of.end()) {
        int const error = first->second;
        active->first_of.erase(first);
        return error;
    }
    if (operation != active->operation)
        return 0;
    ++active->seen;
    if (active->before)
        active->before(active->seen);
    if (auto const also = active->more.find(active->seen); also != active->more.end())
        return also->second;
    if (active->seen != active->nth)
        return 0;
    active->fired = true;
    return active->error;
}

// Follows the plan until the scope ends.
class Injected {
public:
    explicit Injected(Plan& plan)
    {
        active = &plan;
        corvellactl::set_fault_hook(hook);
    }
    Injected(Injected const&) = delete;
    Injected& operator=(Injected const&) = delete;
    ~Injected()
    {
        corvellactl::set_fault_hook(nullptr);
        active = nullptr;
    }
};

} // namespace fault_plan
