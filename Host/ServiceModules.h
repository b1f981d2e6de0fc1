#pragma once
// The service modules one host drives: loaded and resolved together, then
// initialised in order, given events in order, and stopped in reverse order.
// Every export is called from the host's main thread only.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "Handles.h"
#include "HostProtocol.h"
#include "ServiceEntry.h"

namespace Host
{

using ServiceHost::PFN_SERVICE_ENTRY;

class CServiceModuleFile
{
public:
    explicit CServiceModuleFile(const std::wstring& path);
    CServiceModuleFile(const CServiceModuleFile&) = delete;
    CServiceModuleFile& operator=(const CServiceModuleFile&) = delete;

    // Loads the library and resolves the three exports; ERROR_PROC_NOT_FOUND
    // when one is missing (the library is then unloaded again).
    DWORD Load();
    int Init();
    int Event(DWORD code);
    int UnInit();
    // Unloads, unless UnInitServiceModule failed: the module's threads may
    // then still run its code, and unmapping it would crash the process.
    void Unload();

    const std::wstring& Path() const { return m_path; }
    const wchar_t* Name() const { return m_name.c_str(); }
    bool IsRunning() const { return m_running; }
    int InitResult() const { return m_initResult; }

private:
    std::wstring m_path;
    std::wstring m_name;  // file part, for log lines
    Common::CModule m_module;
    PFN_SERVICE_ENTRY m_init = nullptr;
    PFN_SERVICE_ENTRY m_event = nullptr;
    PFN_SERVICE_ENTRY m_uninit = nullptr;
    bool m_running = false;
    bool m_stopFailed = false;
    int m_initResult = 0;
};

class CServiceModuleSet
{
public:
    CServiceModuleSet() = default;
    ~CServiceModuleSet();  // unloads what is still loaded
    CServiceModuleSet(const CServiceModuleSet&) = delete;
    CServiceModuleSet& operator=(const CServiceModuleSet&) = delete;

    // Loads every module; on the first failure unloads those already loaded
    // and returns its status. No module is initialised here.
    DWORD LoadAll(const std::vector<std::wstring>& paths);
    // InitServiceModule(0) on each, in order.
    void InitAll();
    // OnServiceEvent(code) on each running module, in order; results in reply.
    void EventAll(DWORD code, _HOSTREPLY& reply);
    // UnInitServiceModule(0) on each in reverse order, then unloads them in
    // reverse order. ERROR_SUCCESS when every one returned 0.
    DWORD StopAll();

    // Module list, init results and running flags for a status reply. Reads
    // only what stays fixed between InitAll and StopAll.
    void Describe(_HOSTREPLY& reply) const;
    size_t Count() const { return m_modules.size(); }

private:
    void UnloadAll();

    std::vector<std::unique_ptr<CServiceModuleFile>> m_modules;
};

} // namespace Host
