#include "NetDevFixture.h"

#include <sstream>

namespace NetDevTest
{

using TestEnv::BinDir;

std::string CJournalLine::Field(const std::string& key) const
{
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

::testing::AssertionResult CServiceModuleDll::Load(const std::wstring& fileName)
{
    m_module.Reset(::LoadLibraryW((BinDir() + L"\\" + fileName).c_str()));
    if (!m_module)
        return ::testing::AssertionFailure() << "cannot load " << TestEnv::Narrow(fileName) << ": "
                                             << ::GetLastError();
    const auto resolve = [&](const char* name) {
        return reinterpret_cast<PFN_ENTRY>(reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), name)));
    };
    m_init = resolve(ServiceHost::INIT_EXPORT);
    m_event = resolve(ServiceHost::EVENT_EXPORT);
    m_uninit = resolve(ServiceHost::UNINIT_EXPORT);
    if (!m_init || !m_event || !m_uninit)
        return ::testing::AssertionFailure() << "an export is missing";
    return ::testing::AssertionSuccess();
}

void CNetDevFixture::SetUp()
{
    for (const wchar_t* plugin : {L"KaleoHuePlugin.dll", L"KaleoIoTPlugin.dll", L"KaleoNoInitPlugin.dll",
                                  L"KaleoRefusingPlugin.dll", L"KaleoNoUnInitPlugin.dll"})
        ::CopyFileW((BinDir() + L"\\" + plugin).c_str(), (Bin() + L"\\" + plugin).c_str(), FALSE);
    WriteCatalogue("<device pid=\"0x0301\" file=\"KaleoHuePlugin.dll\"/>"
                   "<device pid=\"0x0401\" file=\"KaleoIoTPlugin.dll\"/>");
}

void CNetDevFixture::TearDown()
{
    if (m_module.IsLoaded())
    {
        m_module.UnInit();
        m_module.Unload();
    }
}

::testing::AssertionResult CNetDevFixture::StartModule(const std::wstring& fileName)
{
    auto loaded = m_module.Load(fileName);
    if (!loaded)
        return loaded;
    if (m_module.Init() != 0)
        return ::testing::AssertionFailure() << "InitServiceModule failed";
    return ::testing::AssertionSuccess();
}

std::string CNetDevFixture::Ctl(const std::wstring& args, DWORD expectedExit)
{
    std::string output;
    const DWORD code = TestEnv::RunProcess(BinDir() + L"\\kaleoctl.exe", args, 30000, &output);
    EXPECT_EQ(expectedExit, code) << "kaleoctl " << TestEnv::Narrow(args) << "\n" << output;
    return output;
}

::testing::AssertionResult CNetDevFixture::Command(const std::wstring& module, const std::wstring& word,
                                                   const std::wstring& doneLine)
{
    const size_t before = CountInLog(doneLine);
    Ctl(L"netdev send " + module + L" " + word);
    return WaitForLogCount(doneLine, before + 1);
}

::testing::AssertionResult CNetDevFixture::Load(const std::wstring& module)
{
    const std::wstring done = module == L"hue" ? L"CSmartlightingDeviceManager::UpdateDevices | END"
                                               : L"CIoTDeviceManager::UpdateDevices | END";
    return Command(module, L"Load", done);
}

void CNetDevFixture::WriteCatalogue(const std::string& entries) const
{
    const std::string text = "<?xml version=\"1.0\"?>\n<devices>" + entries + "</devices>\n";
    TestEnv::WriteFileBytes(m_install.InstallPath() + L"\\Devices.xml", text.data(), text.size());
}

void CNetDevFixture::WritePluginControl(const std::string& lines) const
{
    TestEnv::WriteFileBytes(m_install.InstallPath() + L"\\PluginControl.txt", lines.data(), lines.size());
}

std::wstring CNetDevFixture::Log() const
{
    return TestEnv::ReadUtf16File(m_install.LogsDir() + L"\\" + m_logName);
}

size_t CNetDevFixture::CountInLog(const std::wstring& part) const
{
    const std::wstring log = Log();
    size_t count = 0;
    for (size_t at = log.find(part); at != std::wstring::npos; at = log.find(part, at + part.size()))
        ++count;
    return count;
}

::testing::AssertionResult CNetDevFixture::WaitForLogCount(const std::wstring& part, size_t count,
                                                           DWORD timeoutMs) const
{
    if (TestEnv::WaitFor([&] { return CountInLog(part) >= count; }, timeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the log holds " << CountInLog(part) << " of " << count << " \""
                                         << TestEnv::Narrow(part) << "\"";
}

std::vector<CJournalLine> CNetDevFixture::Journal() const
{
    const std::vector<BYTE> bytes = TestEnv::ReadFileBytes(m_install.InstallPath() + L"\\PluginJournal.txt");
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::vector<CJournalLine> lines;
    std::string text;
    while (std::getline(in, text))
    {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.empty())
            continue;
        CJournalLine line;
        std::istringstream fields(text);
        std::string field;
        std::getline(fields, line.call, '\t');
        while (std::getline(fields, field, '\t'))
        {
            const size_t eq = field.find('=');
            if (eq != std::string::npos)
                line.fields[field.substr(0, eq)] = field.substr(eq + 1);
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::wstring> CNetDevFixture::Copies() const
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    Common::CFindHandle find(::FindFirstFileW((Bin() + L"\\*.mod").c_str(), &data));
    if (!find)
        return names;
    do
        names.push_back(data.cFileName);
    while (::FindNextFileW(find.Get(), &data));
    return names;
}

size_t CountCalls(const std::vector<CJournalLine>& journal, const std::string& call, const std::string& plugin,
                  const std::string& result)
{
    size_t count = 0;
    for (const auto& line : journal)
        if (line.call == call && line.Field("plugin") == plugin && (result.empty() || line.Field("result") == result))
            ++count;
    return count;
}

} // namespace NetDevTest
