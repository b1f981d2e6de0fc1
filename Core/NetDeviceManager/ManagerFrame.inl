// Start, stop and the command worker of a network device manager.
// Included by NetDeviceManager.cpp, which instantiates both record layouts.

template <typename TRecord>
CNetDeviceManager<TRecord>::CNetDeviceManager(const CNetModuleSettings& settings) noexcept : m_settings(settings)
{
}

// A started manager is destroyed only when the host unloads the module
// without UnInitServiceModule: the module's statics then go inside
// DLL_PROCESS_DETACH, under the loader lock, where no thread may be waited
// for and no library called or freed. The worker is told to stop and not
// waited for; it is gone already, as it pins the module while it runs and
// a process exit ends it first. The plug-in copies stay loaded: they go
// with the process. Nothing is logged: the log writer may be gone.
template <typename TRecord>
CNetDeviceManager<TRecord>::~CNetDeviceManager()
{
    if (m_hStopEvent)
        ::SetEvent(m_hStopEvent.Get());
}

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
bool CNetDeviceManager<TRecord>::WorkerOutlivesStop() const noexcept
{
    return m_workerState.load() == WORKER_PARKED;
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::Init() noexcept
{
    const CFunctionName name(m_settings.className, L"Init");
    LogFrame(L"%s | START", static_cast<const wchar_t*>(name));
    DWORD result = ERROR_SUCCESS;
    if (m_pInstance)
        result = ERROR_ALREADY_INITIALIZED;
    else if (WorkerOutlivesStop())
    {
        // Its tables are still in use: a second worker would share them.
        KLOG(Common::LOG_WARN, L"%s | the worker of the last run is still busy: not started",
             static_cast<const wchar_t*>(name));
        result = WORKER_STILL_BUSY;
    }
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
            const bool started = StartWorker();
            if (!m_hCommandEvent || !m_hStopEvent)
                result = ERROR_INVALID_EVENTNAME;
            else if (!started)
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
        if (StopWorker(name))
        {
            DeleteLeftCopies();
            if (m_connected.empty())
                result = ERROR_DEVICE_NOT_AVAILABLE;
            else
            {
                ClearDevices();
                result = ERROR_SUCCESS;
            }
            CloseEvents();
        }
        else
        {
            // Parked: the worker detaches the devices and closes the events.
            result = ConnectedCount() == 0 ? ERROR_DEVICE_NOT_AVAILABLE : ERROR_SUCCESS;
        }
        m_pInstance = nullptr;
    }
    LogFrame(L"%s | END | Result = %d", static_cast<const wchar_t*>(name), static_cast<int>(result));
    return result;
}

template <typename TRecord>
void CNetDeviceManager<TRecord>::CloseEvents() noexcept
{
    if (m_hCommandEvent)
        ::ResetEvent(m_hCommandEvent.Get());
    m_hCommandEvent.Reset();
    m_hStopEvent.Reset();
}

template <typename TRecord>
size_t CNetDeviceManager<TRecord>::ConnectedCount() const noexcept
{
    Common::CSrwLock::CScopedLock lock(m_deviceLock);
    return m_connected.size();
}

// The worker holds a reference on the module until it ends (CThreadOwner),
// so the module's code stays mapped under a worker that outlives a stop.
template <typename TRecord>
bool CNetDeviceManager<TRecord>::StartWorker() noexcept
{
    m_workerState = WORKER_RUNNING;
    if (m_worker.Start(this, &CNetDeviceManager::WorkerBody) == ERROR_SUCCESS)
        return true;
    m_workerState = WORKER_IDLE;
    return false;
}

// Waits for the worker up to the module's stop time. True when it has left
// the tables: the caller finishes the stop. False when it is still busy (a
// plug-in's Init or UnInit that does not return): it is parked and
// finishes the stop itself once that call returns.
template <typename TRecord>
bool CNetDeviceManager<TRecord>::StopWorker(const wchar_t* function) noexcept
{
    if (m_hStopEvent)
        ::SetEvent(m_hStopEvent.Get());
    if (!m_worker.Owns())
        return true;
    bool left = m_worker.Join(m_settings.stopWaitMs);
    // A worker that has just left the tables cannot be parked any more.
    LONG running = WORKER_RUNNING;
    if (!left && !m_workerState.compare_exchange_strong(running, WORKER_PARKED))
        left = true;
    if (!left)
        KLOG(Common::LOG_WARN, L"%s | the worker is still busy after %lu ms: it detaches the devices when its call "
                               L"returns",
             function, m_settings.stopWaitMs);
    // A parked worker ends by itself; the next start owns a new one.
    m_worker.Detach();
    return left;
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::WorkerBody() noexcept
{
    const DWORD code = RunWorker();
    LeaveWorker();
    // Nothing of the manager is touched past LeaveWorker: after a parked
    // stop, the module may be unloaded as soon as the thread's reference goes.
    return code;
}

template <typename TRecord>
void CNetDeviceManager<TRecord>::LeaveWorker() noexcept
{
    LONG state = WORKER_RUNNING;
    if (m_workerState.compare_exchange_strong(state, WORKER_IDLE) || state != WORKER_PARKED)
        return;
    FinishParkedStop();
    m_workerState = WORKER_IDLE;
}

// What a stop that gave up waiting left undone, on the worker's thread once
// the call that held it has returned: the detach-all and the events.
template <typename TRecord>
void CNetDeviceManager<TRecord>::FinishParkedStop() noexcept
{
    const CFunctionName name(m_settings.className, L"UnInit");
    m_finishingStop = true;
    DeleteLeftCopies();
    if (!m_connected.empty())
        ClearDevices();
    m_finishingStop = false;
    CloseEvents();
    KLOG(Common::LOG_WARN, L"%s | the worker has finished the stop", static_cast<const wchar_t*>(name));
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::RunWorker() noexcept
{
    const HANDLE handles[2] = {m_hCommandEvent.Get(), m_hStopEvent.Get()};
    for (;;)
    {
        DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        // The stop is looked at before the command: a signaller that sets
        // the command event during every command cannot hold it off.
        if (wait == WAIT_OBJECT_0 && ::WaitForSingleObject(handles[1], 0) == WAIT_OBJECT_0)
            wait = WAIT_OBJECT_0 + 1;
        if (wait == WAIT_OBJECT_0)
        {
            // Consumed before "Event" is read: a signaller that leaves the
            // event set cannot make a command repeat.
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
