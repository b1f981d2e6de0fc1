// kaleoctl status, devices section: the devices a proxy would add, by the
// same scan "kaleoctl devices list" makes, and which of them are attached
// now: an attached device's global mutex exists and its data pipe has a
// reader.
#include <windows.h>

#include "Console.h"
#include "DeviceScan.h"
#include "DeviceView.h"
#include "Handles.h"
#include "Status.h"
#include "TextCodec.h"

namespace Status
{
namespace
{

constexpr wchar_t kPipePrefix[] = L"\\\\.\\pipe\\";
constexpr size_t kPipePrefixChars = sizeof(kPipePrefix) / sizeof(kPipePrefix[0]) - 1;

// The mutex is looked at, never taken: the proxy owns it.
bool MutexExists(const std::wstring& objectName)
{
    if (objectName.empty() || objectName.size() > MAX_PATH || objectName.find(L'\\') != std::wstring::npos)
        return false;
    Common::CHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, (L"Global\\" + objectName).c_str()));
    return static_cast<bool>(mutex);
}

// "listening", "in use" (a device side is connected) or "absent"; waits
// a millisecond at most.
const wchar_t* PipeState(const std::wstring& pipeName)
{
    if (pipeName.size() <= kPipePrefixChars || pipeName.size() > MAX_PATH ||
        !Common::EqualsNoCase(pipeName.substr(0, kPipePrefixChars), kPipePrefix))
        return L"absent";
    if (::WaitNamedPipeW(pipeName.c_str(), 1))
        return L"listening";
    const DWORD error = ::GetLastError();
    return error == ERROR_SEM_TIMEOUT || error == ERROR_PIPE_BUSY ? L"in use" : L"absent";
}

class CAttachedCounter : public Devices::CScanSink
{
public:
    explicit CAttachedCounter(CSection& section) : m_section(section) {}

    void OnDevice(const std::wstring& title, const Devices::CDeviceView& view, const std::wstring&) override
    {
        ++m_published;
        if (!view.skipReasons.empty())
            return;
        const bool mutex = MutexExists(view.objectName);
        const wchar_t* pipe = PipeState(view.pipeName);
        if (mutex)
            ++m_attached;
        if (++m_listed > kMaxListed)
            return;
        m_section.Add(Console::Format(L"0x%08lX %s: %s (pipe %s)", view.dwKey, Printable(title, 80).c_str(),
                                      mutex ? L"attached" : L"not attached", pipe));
    }

    unsigned Published() const { return m_published; }
    unsigned Attached() const { return m_attached; }
    unsigned Listed() const { return m_listed; }

private:
    CSection& m_section;
    unsigned m_published = 0;
    unsigned m_attached = 0;
    unsigned m_listed = 0;
};

} // namespace

CSection DevicesSection()
{
    CSection section;
    Devices::CProxyView proxy;
    proxy.LoadCatalogue();
    CAttachedCounter counter(section);
    Devices::ScanPublishedDevices(proxy, counter);
    if (counter.Listed() > kMaxListed)
        section.Add(Console::Format(L"... and %u more", counter.Listed() - static_cast<unsigned>(kMaxListed)));
    section.verdict = Console::Format(L"Devices: %u published, %u the proxy adds, %u attached", counter.Published(),
                                      proxy.Added(), counter.Attached());
    if (!proxy.CatalogueUsable())
        section.Fault(L"catalogue: " + proxy.DescribeCatalogue());
    return section;
}

} // namespace Status
