#include "DataPipeConnect.h"

#include "LogWriter.h"
#include "PipeIo.h"

DWORD ConnectDataPipeClient(HANDLE instance, HANDLE shutdownEvent, const wchar_t* logFile) noexcept
{
    DWORD callError = ERROR_IO_PENDING;
    const DWORD rc = Common::ConnectPipeClient(instance, shutdownEvent, &callError);
    if (callError != ERROR_IO_PENDING && callError != ERROR_PIPE_CONNECTED)
        ::Common::CLogWriter::GetInstance()->WriteToFile(logFile, Common::LOG_ERROR, KALEO_WIDEN(__FILE__), __LINE__,
                                                         L"%s | ConnectNamedPipe failed  = %d\n",
                                                         L"CKaleoSDKNative::RunMonitorData",
                                                         static_cast<int>(callError));
    return rc;
}
