#pragma once
// The server end of a named pipe that owns its name. The first instance is
// created with FILE_FLAG_FIRST_PIPE_INSTANCE, so a name another process
// holds is never shared (its clients' data would reach that process); each
// next instance is created before the served one is let go, so the name is
// never free in between.
#include <windows.h>

#include "Handles.h"

namespace Common
{

struct CPipeShape
{
    DWORD openMode = 0;  // FILE_FLAG_FIRST_PIPE_INSTANCE is added as needed
    DWORD pipeMode = 0;
    DWORD maxInstances = PIPE_UNLIMITED_INSTANCES;
    DWORD outBytes = 0;
    DWORD inBytes = 0;
    SECURITY_ATTRIBUTES* security = nullptr;  // not owned; null: the default
    DWORD nameRetryMs = 1000;                 // while another process holds the name
};

// Told when the name is found held by another process (once per OwnName),
// and when it is taken after having been found held.
class CPipeNameReport
{
public:
    virtual void NameHeld(DWORD error, DWORD retryMs) noexcept = 0;
    virtual void NameTaken() noexcept {}

protected:
    ~CPipeNameReport() = default;
};

class CPipeServer
{
public:
    // Remote clients are refused: every pipe of the product serves this
    // machine. The name is not copied: it outlives the server.
    CPipeServer(const wchar_t* name, const CPipeShape& shape) noexcept : m_name(name), m_shape(shape)
    {
        m_shape.pipeMode |= PIPE_REJECT_REMOTE_CLIENTS;
    }

    const wchar_t* Name() const noexcept { return m_name; }

    // One instance; first: the name's first, failing while another holds it.
    // Empty with the last error on failure.
    CHandle CreateInstance(bool first) const noexcept;
    // Creates the first instance, trying again every nameRetryMs while the
    // name is held (ERROR_ACCESS_DENIED, ERROR_PIPE_BUSY) until stopEvent is
    // set. 0, ERROR_OPERATION_ABORTED for a stop, or the creation's error.
    DWORD OwnName(HANDLE stopEvent, CPipeNameReport& report, CHandle& instance) const noexcept;
    // The instance that waits for the next client, made while the served
    // one still holds the name.
    CHandle NextInstance() const noexcept { return CreateInstance(false); }

private:
    const wchar_t* m_name;
    CPipeShape m_shape;
};

} // namespace Common
