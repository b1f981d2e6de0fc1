// The service modules of one host; see ServiceModules.h.
#include "ServiceModules.h"

#include "HostOutput.h"
#include "PathText.h"
#include "ReplyText.h"

namespace Host
{
namespace
{

PFN_SERVICE_ENTRY Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<PFN_SERVICE_ENTRY>(
        reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace

CServiceModuleFile::CServiceModuleFile(const std::wstring& path)
    : m_path(path), m_name(Common::FileNamePart(path))
{
}

DWORD CServiceModuleFile::Load()
{
    m_module.Reset(::LoadLibraryW(m_path.c_str()));
    if (!m_module)
    {
        const DWORD error = ::GetLastError();
        HOST_REPORT(Common::LOG_ERROR, L"[VxSvcHost] Cannot load %s | error = %lu",
                    m_path.c_str(), error);
        return error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
    }
    HOST_REPORT(Common::LOG_INFO, L"[VxSvcHost] Loaded %s", m_path.c_str());
    m_init = Resolve(m_module.Get(), ServiceHost::INIT_EXPORT);
    m_event = Resolve(m_module.Get(), ServiceHost::EVENT_EXPORT);
    m_uninit = Resolve(m_module.Get(), ServiceHost::UNINIT_EXPORT);
    if (m_init == nullptr || m_event == nullptr || m_uninit == nullptr)
    {
        HOST_REPORT(Common::LOG_ERROR,
                    L"[VxSvcHost] %s lacks InitServiceModule, OnServiceEvent or UnInitServiceModule",
                    m_name.c_str());
        m_init = m_event = m_uninit = nullptr;
        Unload();
        return ERROR_PROC_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

int CServiceModuleFile::Init()
{
    m_initResult = m_init(0);
    m_running = m_initResult == 0;
    HOST_REPORT(m_running ? Common::LOG_INFO : Common::LOG_ERROR,
                L"[VxSvcHost] InitServiceModule(%s) returned %d", m_name.c_str(), m_initResult);
    return m_initResult;
}

int CServiceModuleFile::Event(DWORD code)
{
    const int result = m_event(static_cast<int>(code));
    HOST_REPORT(Common::LOG_INFO, L"[VxSvcHost] OnServiceEvent(%s, %lu) returned %d",
                m_name.c_str(), code, result);
    return result;
}

int CServiceModuleFile::UnInit()
{
    // Also after a failed init: a module that is not initialised returns 0
    // at once, and one that half started gets to clean up.
    const int result = m_uninit(0);
    m_running = false;
    m_stopFailed = result != 0;
    HOST_REPORT(m_stopFailed ? Common::LOG_ERROR : Common::LOG_INFO,
                L"[VxSvcHost] UnInitServiceModule(%s) returned %d", m_name.c_str(), result);
    return result;
}

void CServiceModuleFile::Unload()
{
    if (!m_module)
        return;
    if (m_stopFailed)
    {
        HOST_REPORT(Common::LOG_WARN, L"[VxSvcHost] %s stays loaded: its stop failed", m_name.c_str());
        m_module.Release();  // deliberately kept mapped until the process ends
        return;
    }
    m_module.Reset();
    HOST_REPORT(Common::LOG_INFO, L"[VxSvcHost] Unloaded %s", m_name.c_str());
}

// ---------------------------------------------------------------------------

CServiceModuleSet::~CServiceModuleSet()
{
    UnloadAll();
}

DWORD CServiceModuleSet::LoadAll(const std::vector<std::wstring>& paths)
{
    if (paths.empty() || paths.size() > kMaxHostModules)
        return ERROR_INVALID_PARAMETER;
    for (const std::wstring& path : paths)
    {
        m_modules.push_back(std::make_unique<CServiceModuleFile>(path));
        const DWORD status = m_modules.back()->Load();
        if (status != ERROR_SUCCESS)
        {
            m_modules.pop_back();
            UnloadAll();
            return status;
        }
    }
    return ERROR_SUCCESS;
}

void CServiceModuleSet::InitAll()
{
    for (auto& module : m_modules)
        module->Init();
}

void CServiceModuleSet::EventAll(DWORD code, _HOSTREPLY& reply)
{
    reply.moduleCount = static_cast<DWORD>(m_modules.size());
    AppendReplyText(reply, L"OnServiceEvent(%lu):", code);
    for (size_t i = 0; i < m_modules.size(); ++i)
    {
        CServiceModuleFile& module = *m_modules[i];
        if (!module.IsRunning())
        {
            // Events go only to modules that are running.
            reply.results[i] = 0;
            AppendReplyText(reply, L" %s=not running", module.Name());
            continue;
        }
        reply.runningMask |= 1u << i;
        reply.results[i] = module.Event(code);
        AppendReplyText(reply, L" %s=%d", module.Name(), reply.results[i]);
    }
}

DWORD CServiceModuleSet::StopAll()
{
    DWORD status = ERROR_SUCCESS;
    for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it)
        if ((*it)->UnInit() != 0)
            status = ERROR_GEN_FAILURE;
    UnloadAll();
    return status;
}

void CServiceModuleSet::Describe(_HOSTREPLY& reply) const
{
    reply.moduleCount = static_cast<DWORD>(m_modules.size());
    for (size_t i = 0; i < m_modules.size(); ++i)
    {
        const CServiceModuleFile& module = *m_modules[i];
        reply.results[i] = module.InitResult();
        if (module.IsRunning())
            reply.runningMask |= 1u << i;
        AppendReplyText(reply, L"\r\n[%u] %s %s (InitServiceModule returned %d)",
                        static_cast<unsigned>(i), module.IsRunning() ? L"running" : L"stopped",
                        module.Path().c_str(), module.InitResult());
    }
}

void CServiceModuleSet::UnloadAll()
{
    for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it)
        (*it)->Unload();
    m_modules.clear();
}

} // namespace Host
