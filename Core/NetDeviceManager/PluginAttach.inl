// Attaching a device through its own copy of a plug-in, and detaching it.
// Included by NetDeviceManager.cpp, which instantiates both record layouts.

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::AddDevice(int32_t index, TRecord record) noexcept
{
    const CFunctionName name(m_settings.className, L"AddDevice");
    KLOG(Common::LOG_INFO, L"%s | START", static_cast<const wchar_t*>(name));
    LogRecord(name, index, record);
    if (!m_pInstance)
        return ERROR_NOT_FOUND;
    if (record.pid == 0)
        return ERROR_UNKNOWN_PRODUCT;
    const DWORD check = CheckIdentifier(name, record);
    if (check != ERROR_SUCCESS)
        return check;

    DWORD result = ERROR_SUCCESS;
    try
    {
        result = AttachFromCatalog(name, index, record);
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | out of memory", static_cast<const wchar_t*>(name));
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    KLOG(Common::LOG_INFO, L"%s | END | Result = %d", static_cast<const wchar_t*>(name), static_cast<int>(result));
    return result;
}

// Tries the catalogue's plug-ins for the product id in document order until
// one accepts the device. No install path, no catalogue root and no entry
// attach nothing and report success; a missing catalogue reports 2.
template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::AttachFromCatalog(const wchar_t* function, int32_t index, TRecord& record)
{
    std::wstring installPath;
    if (!Common::GetInstallPath(installPath))
        return ERROR_SUCCESS;
    std::vector<std::wstring> plugins;
    const DWORD found = Common::FindDevicePlugins(installPath, record.pid, plugins);
    if (found == Common::CATALOG_NOT_LOADABLE)
        return ERROR_FILE_NOT_FOUND;
    if (found == ERROR_NOT_ENOUGH_MEMORY)
        return found;
    if (found != ERROR_SUCCESS)
        return ERROR_SUCCESS;

    // The name is made of texts from another process: it must stay one plain
    // file in InstallPath\bin and fit the record.
    const std::wstring moduleName = DeviceModuleName(record);
    const std::wstring target = Common::MakePluginPath(installPath, moduleName);
    if (!Common::IsPlainPluginFileName(moduleName) || target.size() >= Common::DEVICE_TEXT_CHARS)
    {
        KLOG(Common::LOG_ERROR, L"%s | the plug-in copy name %s is not a usable file name in %s\\bin", function,
             moduleName.c_str(), installPath.c_str());
        return ERROR_INVALID_DATA;
    }
    // One copy serves one device: a second record naming the same copy
    // would share its library instance.
    if (IsCopyInUse(target))
    {
        KLOG(Common::LOG_ERROR, L"%s | %s already serves an attached device", function, target.c_str());
        return ERROR_ALREADY_EXISTS;
    }

    DWORD result = ERROR_SUCCESS;
    for (const std::wstring& source : plugins)
    {
        result = AttachCopy(function, index, record, source, target);
        if (result == ERROR_SUCCESS)
            break;
    }
    return result;
}

template <typename TRecord>
bool CNetDeviceManager<TRecord>::IsCopyInUse(const std::wstring& target) const
{
    Common::CSrwLock::CScopedLock lock(m_deviceLock);
    for (const auto& entry : m_connected)
        if (Common::EqualsNoCase(entry.second.szModulePath, target.c_str()))
            return true;
    return false;
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::AttachCopy(const wchar_t* function, int32_t index, TRecord& record,
                                             const std::wstring& source, const std::wstring& target)
{
    // A failed copy shows as a failed load (or loads a copy left from before).
    ::CopyFileW(source.c_str(), target.c_str(), FALSE);
    Common::CModule module(::LoadLibraryW(target.c_str()));
    if (!module)
        return ERROR_MOD_NOT_FOUND;
    const auto init = reinterpret_cast<PFN_PLUGIN_INIT>(reinterpret_cast<void*>(::GetProcAddress(module.Get(), "Init")));
    if (!init)
    {
        module.Reset();
        ::DeleteFileW(target.c_str());
        return ERROR_API_UNAVAILABLE;
    }
    record.index = index;
    const int accepted = init(record);
    if (accepted != 0)
    {
        module.Reset();
        ::DeleteFileW(target.c_str());
        return static_cast<DWORD>(accepted);
    }

    record.hModule = Common::ModuleTag(module.Get());
    NetDevice::CopyRecordText(record.szModulePath, target);
    Common::CSrwLock::CScopedLock lock(m_deviceLock);
    if (m_modules.count(index) != 0 || m_connected.count(index) != 0)
    {
        // Cannot happen with the callers' indexes; undo rather than leak a
        // loaded copy no entry refers to.
        KLOG(Common::LOG_ERROR, L"%s | index %d is taken: the new copy is released", function,
             static_cast<int>(index));
        const auto uninit = reinterpret_cast<PFN_PLUGIN_UNINIT>(reinterpret_cast<void*>(::GetProcAddress(module.Get(), "UnInit")));
        if (uninit)
            uninit();
        module.Reset();
        ::DeleteFileW(target.c_str());
        return ERROR_ALREADY_EXISTS;
    }
    // Both entries or neither: the copy stays owned until both are in.
    m_modules.emplace(index, module.Get());
    try
    {
        m_connected.emplace(index, record);
    }
    catch (...)
    {
        m_modules.erase(index);
        throw;
    }
    module.Release();
    LogConnected(function);
    return ERROR_SUCCESS;
}

template <typename TRecord>
HMODULE CNetDeviceManager<TRecord>::LoadedCopy(int32_t index) const noexcept
{
    Common::CSrwLock::CScopedLock lock(m_deviceLock);
    const auto entry = m_modules.find(index);
    return entry != m_modules.end() ? entry->second : nullptr;
}

template <typename TRecord>
void CNetDeviceManager<TRecord>::LogConnected(const wchar_t* function) const noexcept
{
    KLOG(Common::LOG_INFO, L"%s | SUCCESS | total connected device = %d", function,
         static_cast<int>(m_connected.size()));
    try
    {
        for (const auto& entry : SortedRecords(m_connected))
            KLOG(Common::LOG_INFO, L"%s | [%d] %s", function, static_cast<int>(entry.first),
                 entry.second->szModulePath);
    }
    catch (...)
    {
    }
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::RemoveDevice(int32_t index, TRecord record) noexcept
{
    const CFunctionName name(m_settings.className, L"RemoveDevice");
    KLOG(Common::LOG_INFO, L"%s | START", static_cast<const wchar_t*>(name));
    LogRecord(name, index, record);
    if (!m_pInstance && !m_finishingStop)
        return ERROR_NOT_FOUND;
    if (RemoveRefusesPidZero() && record.pid == 0)
        return ERROR_UNKNOWN_PRODUCT;
    if (m_connected.empty())
        return ERROR_EMPTY;
    if (record.hModule == 0)
        return ERROR_MOD_NOT_FOUND;
    if (record.szModulePath[0] == L'\0')
        return ERROR_PATH_NOT_FOUND;

    const DWORD result = DetachCopy(name, index, record);
    KLOG(Common::LOG_INFO, L"%s | END | Result = %d", static_cast<const wchar_t*>(name), static_cast<int>(result));
    return result;
}

template <typename TRecord>
DWORD CNetDeviceManager<TRecord>::DetachCopy(const wchar_t* function, int32_t index, const TRecord& record)
{
    const HMODULE module = LoadedCopy(index);
    if (!module)
        return ERROR_MOD_NOT_FOUND;
    const auto uninit = reinterpret_cast<PFN_PLUGIN_UNINIT>(reinterpret_cast<void*>(::GetProcAddress(module, "UnInit")));
    if (!uninit)
        return ERROR_API_UNAVAILABLE;
    uninit();
    if (!::FreeLibrary(module))
        return ERROR_SUCCESS;

    Common::CSrwLock::CScopedLock lock(m_deviceLock);
    m_modules.erase(index);
    const auto entry = m_connected.find(index);
    if (!::DeleteFileW(record.szModulePath))
    {
        const DWORD error = ::GetLastError();
        KLOG(Common::LOG_ERROR, L"%s | DeleteFile(%s) error %d", function, record.szModulePath,
             static_cast<int>(error));
        // The library is gone; the entry stays for its file, but nothing may
        // call into it again. DeleteLeftCopies tries the file again.
        if (entry != m_connected.end())
            entry->second.hModule = 0;
        return error;
    }
    if (entry != m_connected.end())
        m_connected.erase(entry);
    LogConnected(function);
    return ERROR_SUCCESS;
}

// An entry whose library is unloaded but whose copy could not be deleted
// still names the copy, so it blocks a new attach of the same device. The
// next Load, Reset or stop tries the delete again and drops the entry once
// the file is gone; the device can then be attached again.
template <typename TRecord>
void CNetDeviceManager<TRecord>::DeleteLeftCopies() noexcept
{
    const CFunctionName name(m_settings.className, L"DeleteLeftCopies");
    Common::CSrwLock::CScopedLock lock(m_deviceLock);
    bool dropped = false;
    for (auto entry = m_connected.begin(); entry != m_connected.end();)
    {
        if (m_modules.count(entry->first) != 0)
        {
            ++entry;
            continue;
        }
        const wchar_t* path = entry->second.szModulePath;
        const DWORD error = ::DeleteFileW(path) ? ERROR_SUCCESS : ::GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        {
            KLOG(Common::LOG_WARN, L"%s | %s still cannot be deleted: error %d", static_cast<const wchar_t*>(name),
                 path, static_cast<int>(error));
            ++entry;
            continue;
        }
        KLOG(Common::LOG_INFO, L"%s | %s is gone: device %d detached", static_cast<const wchar_t*>(name), path,
             static_cast<int>(entry->first));
        entry = m_connected.erase(entry);
        dropped = true;
    }
    if (dropped)
        LogConnected(name);
}
