// Start, stop and the command worker of a network device manager.
// Included by NetDeviceManager.cpp, which instantiates both record layouts.

template <typename TRecord>
CNetDeviceManager<TRecord>::CNetDeviceManager(const CNetModuleSettings& settings) noexcept : m_settings(settings)
{
}

// The final class stops a running manager in its own destructor, while its
// hooks still exist; nothing is left to do here.
template <typename TRecord>
CNetDeviceManager<TRecord>::~CNetDeviceManager() = default;

template <typename TRecord>
void CNetDeviceManager<TRecord>::LogFrame(const wchar_t* format, ...) const noexcept
{
    if (!m_settings.frameLogging)
        return;
    va_list args;
    va_start(args, format);
    Common::CLogWriter::GetInstance()->WriteV(Common::LOG_INFO, KALEO_WIDEN(__FILE__), __LINE__, format, args);
    va_end(args);
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::Init() noexcept
{
    const CFunctionName name(m_settings.className, L"Init");
    LogFrame(L"%s | START", static_cast<const wchar_t*>(name));
    DWORD result = ERROR_SUCCESS;
    if (m_pInstance)
        result = ERROR_ALREADY_INITIALIZED;
    else
    {
        m_pInstance = this;
        OnStart();
        Common::CGlobalSecurity security;
        if (security.Build() == ERROR_SUCCESS && !m_hCommandEvent)
            m_hCommandEvent.Reset(
                ::CreateEventW(security.Attributes(), TRUE, FALSE, m_settings.commandEventName));
        m_hStopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!m_hCommandEvent)
            result = ERROR_INVALID_EVENTNAME;
        else
        {
            m_hThread.Reset(::CreateThread(nullptr, 0, &CNetDeviceManager::WorkerThread, this, 0, nullptr));
            if (!m_hCommandEvent || !m_hStopEvent)
                result = ERROR_INVALID_EVENTNAME;
            else if (!m_hThread)
                result = WORKER_NOT_CREATED;
        }
    }
    LogFrame(L"%s | END | Result = %d", static_cast<const wchar_t*>(name), static_cast<int>(result));
    return result;
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::UnInit() noexcept
{
    const CFunctionName name(m_settings.className, L"UnInit");
    LogFrame(L"%s | START", static_cast<const wchar_t*>(name));
    DWORD result = ERROR_NOT_FOUND;
    if (m_pInstance)
    {
        // The worker ends first: the detach-all below then never overlaps an
        // update, and every device the worker attached is detached once.
        StopWorker(name);
        DeleteLeftCopies();
        if (m_connected.empty())
            result = ERROR_DEVICE_NOT_AVAILABLE;
        else
        {
            ClearDevices();
            result = ERROR_SUCCESS;
        }
        if (m_hCommandEvent)
            ::ResetEvent(m_hCommandEvent.Get());
        m_hCommandEvent.Reset();
        m_hStopEvent.Reset();
        m_pInstance = nullptr;
    }
    LogFrame(L"%s | END | Result = %d", static_cast<const wchar_t*>(name), static_cast<int>(result));
    return result;
}

// A worker busy in a plug-in call is waited for, however long it takes:
// the module may be unloaded as soon as the stop returns.
template <typename TRecord>
void CNetDeviceManager<TRecord>::StopWorker(const wchar_t* function) noexcept
{
    if (m_hStopEvent)
        ::SetEvent(m_hStopEvent.Get());
    if (!m_hThread)
        return;
    if (::WaitForSingleObject(m_hThread.Get(), m_settings.stopWaitMs) == WAIT_TIMEOUT)
    {
        KLOG(Common::LOG_WARN, L"%s | the worker is still busy after %lu ms: waiting until it ends", function,
             m_settings.stopWaitMs);
        ::WaitForSingleObject(m_hThread.Get(), INFINITE);
        KLOG(Common::LOG_WARN, L"%s | the worker has ended", function);
    }
    m_hThread.Reset();
}

template <typename TRecord>
DWORD WINAPI CNetDeviceManager<TRecord>::WorkerThread(LPVOID param)
{
    return static_cast<CNetDeviceManager*>(param)->RunWorker();
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::RunWorker() noexcept
{
    const HANDLE handles[2] = {m_hCommandEvent.Get(), m_hStopEvent.Get()};
    for (;;)
    {
        const DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0)
        {
            // Consumed before "Event" is read: a signaller that leaves the
            // event set cannot make a command repeat, or hide a stop.
            ::ResetEvent(handles[0]);
            RunCommand();
            continue;
        }
        if (wait == WAIT_OBJECT_0 + 1)
            LogFrame(L"%s thread shutting down.", m_settings.workerName);
        else
            LogFrame(L"%s thread aborted! dwEvent = %d, err = %d", m_settings.workerName, static_cast<int>(wait),
                     static_cast<int>(::GetLastError()));
        return wait;
    }
}

template <typename TRecord>
void CNetDeviceManager<TRecord>::RunCommand() noexcept
{
    try
    {
        std::wstring word;
        if (Common::RegGetString(m_settings.settingsKey, NetDevice::EVENT_VALUE, word) != ERROR_SUCCESS)
            word.clear();
        LogFrame(L"%s | Event : %s", m_settings.workerName, word.c_str());
        if (word == L"Load")
        {
            DeleteLeftCopies();
            UpdateDevices();
        }
        else if (word == L"Reset")
        {
            DeleteLeftCopies();
            ClearDevices();
        }
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | the command failed: out of memory", m_settings.workerName);
    }
}

template <typename TRecord>
typename CNetDeviceManager<TRecord>::CDeviceTable CNetDeviceManager<TRecord>::ConnectedSnapshot() const
{
    Common::CSrwLock::CScopedLock lock(m_deviceLock);
    return m_connected;
}
