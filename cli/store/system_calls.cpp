#include "store/system_calls.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace corvellactl {
namespace {

FaultHook fault_hook = nullptr;

// Whether a test's hook fails this call; errno then holds its error.
bool injected_fault(FileOperation operation)
{
    if (fault_hook == nullptr)
        return false;
    int const error = fault_hook(operation);
    if (error == 0)
        return false;
    errno = error;
    return true;
}

} // namespace

void set_fault_hook(FaultHook hook) { fault_hook = hook; }

Descriptor::Descriptor(Descriptor&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
{
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
    if (this != &other) {
        if (is_open())
            ::close(m_descriptor);
        m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
}

Descriptor::~Descriptor()
{
    if (is_open())
        ::close(m_descriptor);
}

bool Descriptor::close() { return ::close(std::exchange(m_descriptor, -1)) == 0; }

int open_file(char const* path, int flags, mode_t mode)
{
    return injected_fault(FileOperation::Open) ? -1 : ::open(path, flags, mode);
}

int make_temporary(std::string& pattern)
{
    return injected_fault(FileOperation::Open) ? -1 : ::mkostemp(pattern.data(), O_CLOEXEC);
}

ssize_t read_some(int descriptor, char* buffer, std::size_t size)
{
    return injected_fault(FileOperation::Read) ? -1 : ::read(descriptor, buffer, size);
}

ssize_t write_some(int descriptor, char const* bytes, std::size_t size)
{
    return injected_fault(FileOperation::Write) ? -1 : ::write(descriptor, bytes, size);
}

int flush_to_disk(int descriptor)
{
    return injected_fault(FileOperation::Flush) ? -1 : ::fsync(descriptor);
}

int rename_file(char const* from, char const* to)
{
    return injected_fault(FileOperation::Rename) ? -1 : ::rename(from, to);
}

int link_file(char const* existing, char const* name)
{
    return injected_fault(FileOperation::Rename) ? -1 : ::linkat(AT_FDCWD, existing, AT_FDCWD, name, AT_SYMLINK_FOLLOW);
}

int remove_file(char const* path) { return injected_fault(FileOperation::Remove) ? -1 : ::unlink(path); }

} // namespace corvellactl
