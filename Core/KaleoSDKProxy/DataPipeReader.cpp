// The reader thread of an attached device: the server end of the device's
// data pipe. It reads one JSON message per pipe message, stamps it with the
// device handle and hands it to event delivery, serving one client after
// another until the device is detached. Its lines go to the device's own
// log file, "Debug_<handle>.log".
#include "KaleoSDKNative.h"

#include <cstdio>
#include <new>

#include "DataPipeConnect.h"
#include "DataPipeMessage.h"
#include "DeviceHandleJson.h"
#include "EventDelivery.h"
#include "LogWriter.h"
#include "LogValues.h"
#include "PipeIo.h"
#include "PipeServer.h"
#include "TextCodec.h"

using Common::CHandle;
using nlohmann::json;

#define READER_LOG(file, level, ...) \
    ::Common::CLogWriter::GetInstance()->WriteToFile((file), (level), KALEO_WIDEN(__FILE__), __LINE__, __VA_ARGS__)

namespace
{

const wchar_t RUN_NAME[] = L"CKaleoSDKNative::RunMonitorData";
const wchar_t PROCESS_NAME[] = L"CKaleoSDKNative::ProcessData";

constexpr DWORD PIPE_BUFFER_BYTES = 8192;
// A name held by another process is tried again this often.
constexpr DWORD PIPE_NAME_RETRY_MS = 1000;
// Debug dumps are cut into lines of this many characters.
constexpr size_t DUMP_LINE_CHARS = 200;

struct CDebugLogName
{
    explicit CDebugLogName(DEVICE_HANDLE deviceHandle) noexcept
    {
        _snwprintf(text, 31, L"Debug_%d.log", DeviceHandleToInt(deviceHandle));
    }
    wchar_t text[32] = {};
};

// Remote clients are refused (CPipeServer): a device's data comes from
// this machine.
Common::CPipeServer DataPipe(const std::wstring& name) noexcept
{
    Common::CPipeShape shape;
    shape.openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    shape.pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    shape.maxInstances = PIPE_UNLIMITED_INSTANCES;
    shape.outBytes = PIPE_BUFFER_BYTES;
    shape.inBytes = PIPE_BUFFER_BYTES;
    shape.nameRetryMs = PIPE_NAME_RETRY_MS;
    return Common::CPipeServer(name.c_str(), shape);
}

// A name another process holds is never shared (the device's data would
// reach it): the reader says so and tries again until the name is free or
// the device is detached.
class CDataPipeReport final : public Common::CPipeNameReport
{
public:
    CDataPipeReport(const wchar_t* name, const wchar_t* logFile) noexcept : m_name(name), m_logFile(logFile) {}
    void NameHeld(DWORD error, DWORD retryMs) noexcept override
    {
        READER_LOG(m_logFile, Common::LOG_ERROR,
                   L"%s | CreateNamedPipe %s | error = %d | the name is held by another process: "
                   L"not served, trying again every %d ms",
                   RUN_NAME, m_name, static_cast<int>(error), static_cast<int>(retryMs));
    }

private:
    const wchar_t* m_name;
    const wchar_t* m_logFile;
};

void FlushAndDisconnect(HANDLE instance, const wchar_t* logFile) noexcept
{
    if (!::FlushFileBuffers(instance))
        READER_LOG(logFile, Common::LOG_ERROR, L"%s | FlushFileBuffers %d = FALSE | error = %d", RUN_NAME,
                   HandleValue(instance), static_cast<int>(::GetLastError()));
    if (!::DisconnectNamedPipe(instance))
        READER_LOG(logFile, Common::LOG_ERROR, L"%s | DisconnectNamedPipe %d = FALSE | error = %d", RUN_NAME,
                   HandleValue(instance), static_cast<int>(::GetLastError()));
}

} // namespace

DWORD CKaleoSDKNative::RunMonitorData(const CReaderStart& reader) noexcept
{
    const DeviceRecord& record = reader.record;
    CAttachment& attachment = *record.attachment;
    const CDebugLogName logFile(reader.deviceHandle);
    const HANDLE shutdownEvent = attachment.shutdownEvent.Get();
    READER_LOG(logFile.text, Common::LOG_INFO, L"%s | START | Id = %d", RUN_NAME,
               static_cast<int>(::GetCurrentThreadId()));
    READER_LOG(logFile.text, Common::LOG_INFO, L"%s | pid = %d | pipe_name = %s", RUN_NAME,
               static_cast<int>(record.pid), record.pipeName.c_str());

    DWORD result = ERROR_FUNCTION_FAILED;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[PIPE_BUFFER_BYTES]);
    CHandle ioEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CHandle instance;
    if (!buffer || !ioEvent)
        READER_LOG(logFile.text, Common::LOG_ERROR, L"%s | no memory or event for reading | error = %d", RUN_NAME,
                   static_cast<int>(::GetLastError()));
    const Common::CPipeServer server = DataPipe(record.pipeName);
    CDataPipeReport report(record.pipeName.c_str(), logFile.text);
    DWORD rc = buffer && ioEvent ? server.OwnName(shutdownEvent, report, instance) : ERROR_OPERATION_ABORTED;
    if (!instance && rc != ERROR_OPERATION_ABORTED)
        READER_LOG(logFile.text, Common::LOG_ERROR, L"%s | CreateNamedPipe %s | error = %d", RUN_NAME,
                   record.pipeName.c_str(), static_cast<int>(rc));

    while (instance)
    {
        attachment.pipeHandle = instance.Get();
        READER_LOG(logFile.text, Common::LOG_INFO, L"%s | pipe_handle = %d", RUN_NAME, HandleValue(instance.Get()));

        rc = ConnectDataPipeClient(instance.Get(), shutdownEvent, logFile.text);
        // A client that connected, wrote and left before the connect call
        // still has its messages in the instance: read them, then serve
        // the next client.
        if (rc == ERROR_NO_DATA && attachment.shutdownFlag == 0)
            rc = ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS)
        {
            if (rc == ERROR_OPERATION_ABORTED || attachment.shutdownFlag != 0)
                READER_LOG(logFile.text, Common::LOG_INFO, L"%s | Shutdown Event on Pending", RUN_NAME);
            READER_LOG(logFile.text, Common::LOG_ERROR, L"%s | ConnectNamedPipe = FALSE | error = %d", RUN_NAME,
                       static_cast<int>(rc));
            break;
        }

        const EReadEnd end = ReadMessages(reader, instance.Get(), ioEvent.Get(), buffer.get(), logFile.text, result);
        if (end != EReadEnd::ClientGone)
            break;

        // The next instance exists before the served one goes, so the name
        // is never free for another process to take.
        CHandle next = server.NextInstance();
        FlushAndDisconnect(instance.Get(), logFile.text);
        instance = std::move(next);
        if (!instance)
        {
            rc = server.OwnName(shutdownEvent, report, instance);
            if (!instance && rc != ERROR_OPERATION_ABORTED)
                READER_LOG(logFile.text, Common::LOG_ERROR, L"%s | CreateNamedPipe %s | error = %d", RUN_NAME,
                           record.pipeName.c_str(), static_cast<int>(rc));
        }
    }
    if (instance)
    {
        FlushAndDisconnect(instance.Get(), logFile.text);
        instance.Reset();
    }
    READER_LOG(logFile.text, Common::LOG_INFO, L"%s | END | Id = %d", RUN_NAME,
               static_cast<int>(::GetCurrentThreadId()));
    return result;
}

// Reads until the client leaves, the device is detached or a read fails.
// Reads are overlapped and also wait on the shutdown event, so a detach
// ends an idle reader at once.
CKaleoSDKNative::EReadEnd CKaleoSDKNative::ReadMessages(const CReaderStart& reader, HANDLE instance, HANDLE ioEvent,
                                                        char* buffer, const wchar_t* logFile, DWORD& result) noexcept
{
    CAttachment& attachment = *reader.record.attachment;
    const HANDLE shutdownEvent = attachment.shutdownEvent.Get();
    for (;;)
    {
        DWORD rc = ERROR_SUCCESS;
        DWORD bytes = 0;
        if (attachment.shutdownFlag == 0)
            rc = Common::ReadPipeMessage(instance, buffer, PIPE_BUFFER_BYTES, bytes, INFINITE, shutdownEvent, ioEvent);
        if (attachment.shutdownFlag != 0 || rc == ERROR_OPERATION_ABORTED)
        {
            READER_LOG(logFile, Common::LOG_INFO, L"%s | Shutdown Event on Read", RUN_NAME);
            READER_LOG(logFile, Common::LOG_ERROR, L"%s | bPipeData = FALSE | error = %d", RUN_NAME,
                       static_cast<int>(rc));
            return EReadEnd::Shutdown;
        }
        if (rc == ERROR_MORE_DATA)
            rc = DropRestOfMessage(instance, ioEvent, shutdownEvent, buffer, logFile);
        else if (rc == ERROR_SUCCESS && bytes < PIPE_BUFFER_BYTES)
            ServeMessage(reader, buffer, bytes, result);
        // A message that fills the whole buffer has no room for its end: dropped.
        if (rc == ERROR_SUCCESS)
            continue;
        if (rc == ERROR_OPERATION_ABORTED)
            continue;  // the shutdown test above ends the loop
        READER_LOG(logFile, Common::LOG_ERROR, L"%s | bReadFile = FALSE | pipe = %d | error = %d", RUN_NAME,
                   HandleValue(instance), static_cast<int>(rc));
        if (rc == ERROR_BROKEN_PIPE)
            return EReadEnd::ClientGone;
        READER_LOG(logFile, Common::LOG_ERROR, L"%s | bPipeData = FALSE | error = %d", RUN_NAME, static_cast<int>(rc));
        return EReadEnd::Failed;
    }
}

// A message longer than the buffer is read to its end and dropped; the
// client stays served. The status of the read that ended the message.
DWORD CKaleoSDKNative::DropRestOfMessage(HANDLE instance, HANDLE ioEvent, HANDLE shutdownEvent, char* buffer,
                                         const wchar_t* logFile) noexcept
{
    DWORD rc = ERROR_MORE_DATA;
    DWORD total = PIPE_BUFFER_BYTES;
    while (rc == ERROR_MORE_DATA)
    {
        DWORD bytes = 0;
        rc = Common::ReadPipeMessage(instance, buffer, PIPE_BUFFER_BYTES, bytes, INFINITE, shutdownEvent, ioEvent);
        total += bytes;
    }
    if (rc == ERROR_SUCCESS)
        READER_LOG(logFile, Common::LOG_WARN, L"%s | message of %u bytes is longer than %d: dropped", RUN_NAME,
                   static_cast<unsigned>(total), static_cast<int>(PIPE_BUFFER_BYTES - 1));
    return rc;
}

void CKaleoSDKNative::ServeMessage(const CReaderStart& reader, const char* text, size_t length,
                                   DWORD& result) noexcept
{
    const CReaderSwitches& switches = *reader.switches;
    if (switches.enabled != 1 || reader.record.attachment->enabled != 1)
    {
        if (switches.debugProxy == 1)
            READER_LOG(CDebugLogName(reader.deviceHandle).text, Common::LOG_ERROR, L"%s | Enable = %d", RUN_NAME,
                       static_cast<int>(switches.enabled));
        return;
    }
    try
    {
        json message;
        if (!VxKaleoSDKProxy::ParseDataPipeMessage(text, length, message))
            return;
        result = ProcessData(reader.deviceHandle, message, switches.debugProxy);
    }
    catch (const std::exception&)
    {
        // Malformed, not an object, or not valid UTF-8: dropped.
    }
}

DWORD CKaleoSDKNative::ProcessData(DEVICE_HANDLE deviceHandle, json& message, DWORD debugProxy)
{
    message[DEVICE_HANDLE_MEMBER] = DeviceHandleToJson(deviceHandle);
    std::string dump;
    if (debugProxy == 1)
        dump = message.dump();
    DWORD result = ERROR_FUNCTION_FAILED;
    const auto eventId = message.find("eventId");
    if (eventId != message.end() && !eventId->is_null())
    {
        if (*eventId == 2)
            VxKaleoSDKProxy::QueueLightingEvent(deviceHandle, std::move(message));
        else
            VxKaleoSDKProxy::DeliverImmediate(message);
        result = ERROR_SUCCESS;
    }
    if (!dump.empty())
        DumpMessage(deviceHandle, dump);
    return result;
}

void CKaleoSDKNative::DumpMessage(DEVICE_HANDLE deviceHandle, const std::string& text) noexcept
{
    try
    {
        const CDebugLogName logFile(deviceHandle);
        const std::wstring wide = TextCodec::Utf8ToWide(text);
        for (size_t at = 0; at < wide.size(); at += DUMP_LINE_CHARS)
        {
            const std::wstring line = wide.substr(at, DUMP_LINE_CHARS);
            READER_LOG(logFile.text, Common::LOG_DEBUG, L"%s | %s", PROCESS_NAME, line.c_str());
        }
    }
    catch (const std::exception&)
    {
    }
}
