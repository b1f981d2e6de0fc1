// Reconciling the attached devices with the configured ones.
// Included by NetDeviceManager.cpp, which instantiates both record layouts.

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::UpdateDevices() noexcept
{
    const CFunctionName name(m_settings.className, L"UpdateDevices");
    KLOG(Common::LOG_INFO, L"%s | START", static_cast<const wchar_t*>(name));
    DWORD result = ERROR_SUCCESS;
    try
    {
        std::wstring path;
        result = Common::RegGetString(m_settings.settingsKey, NetDevice::PATH_VALUE, path);
        if (result == ERROR_SUCCESS && path.empty())
            result = ERROR_EMPTY;
        if (result == ERROR_SUCCESS)
        {
            result = GetDevicesInfo(path);
            if (result == ERROR_INVALID_DATA)
                ClearDevices();
            else if (result == ERROR_SUCCESS && m_discovered.empty())
                ClearDevices();
            else if (result == ERROR_SUCCESS && !m_connected.empty())
            {
                RemoveInvalidDevices();
                AddValidDevices();
            }
            else if (result == ERROR_SUCCESS)
                AttachAll(name);
        }
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | out of memory", static_cast<const wchar_t*>(name));
        result = ERROR_FUNCTION_FAILED;
    }
    // Nothing of an update outlives it but the changes to m_connected.
    m_discovered.clear();
    KLOG(Common::LOG_INFO, L"%s | END | Result = %d", static_cast<const wchar_t*>(name), static_cast<int>(result));
    return result;
}

// Nothing is attached yet: every discovered record is handed over under its
// order of discovery.
template <typename TRecord>
void CNetDeviceManager<TRecord>::AttachAll(const wchar_t*)
{
    const int32_t count = static_cast<int32_t>(m_discovered.size());
    for (int32_t i = 0; i < count; ++i)
    {
        const auto it = m_discovered.find(i);
        if (it != m_discovered.end() && TakesPart(it->second))
            AddDevice(i, it->second);
    }
}

template <typename TRecord>
bool CNetDeviceManager<TRecord>::RemoveInvalidDevices() noexcept
{
    const CFunctionName name(m_settings.className, L"RemoveInvalidDevices");
    try
    {
        std::map<int32_t, TRecord> removal;
        for (const auto& connected : m_connected)
        {
            bool keep = false;
            // Every pair is compared, so each mismatch gets its lines.
            for (const auto& discovered : SortedRecords(m_discovered))
                if (CompareForRemoval(name, connected.second, *discovered.second))
                    keep = true;
            if (!keep)
                removal.emplace(connected.second.index, connected.second);
        }
        if (removal.empty())
        {
            KLOG(Common::LOG_INFO, L"%s | no device to remove", static_cast<const wchar_t*>(name));
            return false;
        }
        for (const auto& entry : removal)
            RemoveDevice(entry.first, entry.second);
        return true;
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | out of memory", static_cast<const wchar_t*>(name));
        return false;
    }
}

template <typename TRecord>
bool CNetDeviceManager<TRecord>::AddValidDevices() noexcept
{
    const CFunctionName name(m_settings.className, L"AddValidDevices");
    bool added = false;
    try
    {
        for (const auto& discovered : SortedRecords(m_discovered))
        {
            const TRecord& record = *discovered.second;
            bool attached = false;
            for (const auto& connected : m_connected)
                if (IsAlreadyAttached(name, connected.second, record))
                    attached = true;
            if (attached)
                continue;
            added = true;
            AddDevice(SmallestFreeIndex(), record);
        }
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | out of memory", static_cast<const wchar_t*>(name));
    }
    if (!added)
        KLOG(Common::LOG_INFO, L"%s | no device to add", static_cast<const wchar_t*>(name));
    return added;
}

template <typename TRecord>
int32_t CNetDeviceManager<TRecord>::SmallestFreeIndex() const noexcept
{
    int32_t index = 0;
    while (m_connected.count(index) != 0)
        ++index;
    return index;
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::ClearDevices() noexcept
{
    const CFunctionName name(m_settings.className, L"ClearDevices");
    KLOG(Common::LOG_INFO, L"%s | START", static_cast<const wchar_t*>(name));
    DWORD result = ERROR_DEVICE_NOT_AVAILABLE;
    try
    {
        m_discovered.clear();
        if (!m_connected.empty())
        {
            // Detaching shrinks the table: walk a copy.
            const std::map<int32_t, TRecord> snapshot(m_connected.begin(), m_connected.end());
            bool detached = false;
            for (const auto& entry : snapshot)
                if (TakesPart(entry.second) && RemoveDevice(entry.first, entry.second) == ERROR_SUCCESS)
                    detached = true;
            result = detached ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
        }
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | out of memory", static_cast<const wchar_t*>(name));
        result = ERROR_FUNCTION_FAILED;
    }
    KLOG(Common::LOG_INFO, L"%s | END | Result = %d", static_cast<const wchar_t*>(name), static_cast<int>(result));
    return result;
}
