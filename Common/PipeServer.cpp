#include "PipeServer.h"

namespace Common
{

CHandle CPipeServer::CreateInstance(bool first) const noexcept
{
    const DWORD openMode = m_shape.openMode | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return CHandle(::CreateNamedPipeW(m_name, openMode, m_shape.pipeMode, m_shape.maxInstances,
                                      m_shape.outBytes, m_shape.inBytes, 0, m_shape.security));
}

DWORD CPipeServer::OwnName(HANDLE stopEvent, CPipeNameReport& report, CHandle& instance) const noexcept
{
    for (bool reported = false;;)
    {
        instance = CreateInstance(true);
        if (instance)
        {
            if (reported)
                report.NameTaken();
            return ERROR_SUCCESS;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_PIPE_BUSY)
            return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
        if (!reported)
            report.NameHeld(error, m_shape.nameRetryMs);
        reported = true;
        if (::WaitForSingleObject(stopEvent, m_shape.nameRetryMs) != WAIT_TIMEOUT)
            return ERROR_OPERATION_ABORTED;
    }
}

} // namespace Common
