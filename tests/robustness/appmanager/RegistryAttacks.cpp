// Every registry value the app manager reads, of the wrong type, empty, of
// the longest length a string value may have, or of a megabyte: the module
// starts on it, keeps what is registered and serves registrations.
#include <gtest/gtest.h>

#include <vector>

#include "AppAttack.h"
#include "Registry.h"

using namespace AppAttack;
using namespace TestEnv;

namespace
{
using RegistryApps = CAppAttackFixture;

struct CValue
{
    const char* label;
    std::wstring key;
    const wchar_t* name;
    DWORD type;  // what the module expects
};

// A value as it is stored, to be put back after the case.
class CSavedValue
{
public:
    explicit CSavedValue(const CValue& value) : m_value(value)
    {
        Common::CRegKey key;
        DWORD bytes = 0;
        m_exists = Open(key) && ::RegQueryValueExW(key.Get(), value.name, nullptr, &m_type, nullptr, &bytes) == 0;
        m_data.resize(bytes);
        if (m_exists)
            ::RegQueryValueExW(key.Get(), value.name, nullptr, &m_type, m_data.data(), &bytes);
    }
    ~CSavedValue()
    {
        Common::CRegKey key;
        if (!Open(key))
            return;
        if (m_exists)
            ::RegSetValueExW(key.Get(), m_value.name, 0, m_type, m_data.data(), static_cast<DWORD>(m_data.size()));
        else
            ::RegDeleteValueW(key.Get(), m_value.name);
    }
    bool Write(DWORD type, const std::vector<BYTE>& data) const
    {
        Common::CRegKey key;
        return Open(key) && ::RegSetValueExW(key.Get(), m_value.name, 0, type, data.data(),
                                             static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
    }

private:
    bool Open(Common::CRegKey& key) const
    {
        return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_value.key.c_str(), 0, nullptr, 0, Common::KALEO_ALL_ACCESS,
                                 nullptr, key.Put(), nullptr) == ERROR_SUCCESS;
    }
    CValue m_value;
    bool m_exists = false;
    DWORD m_type = REG_NONE;
    std::vector<BYTE> m_data;
};

// Text of `chars` characters and its terminator.
std::vector<BYTE> Text(size_t chars)
{
    std::vector<BYTE> data((chars + 1) * sizeof(wchar_t), 0);
    for (size_t i = 0; i < chars; ++i)
        data[i * sizeof(wchar_t)] = 'a';
    return data;
}
} // namespace

TEST_F(RegistryApps, HostileValuesLoseNothingAndRegistrationsGoOn)
{
    const auto app = Registered();
    const std::wstring record = std::wstring(Common::KALEO_APPS_KEY) + L"\\IdleApp.exe";
    const CValue values[] = {
        {"Apps Enable", Common::KALEO_APPS_KEY, L"Enable", REG_DWORD},
        {"PriorityList", Common::KALEO_APPS_KEY, L"PriorityList", REG_SZ},
        {"app Enable", record, L"Enable", REG_DWORD},
        {"app DevicesSupported", record, L"DevicesSupported", REG_DWORD},
        {"app Contact", record, L"Contact", REG_SZ},
        {"InstallPath", Common::KALEO_ROOT_KEY, Common::KALEO_INSTALL_PATH_VALUE, REG_SZ},
    };
    const std::vector<BYTE> one = {1, 0, 0, 0};
    const struct
    {
        const char* name;
        DWORD type;  // 0: the expected one
        std::vector<BYTE> data;
    } kinds[] = {
        {"wrong type", REG_BINARY, one},
        {"empty", 0, {}},
        {"maximum length", 0, Text(32766)},
        {"a megabyte", 0, Text(512 * 1024 - 1)},
    };
    for (const CValue& value : values)
    {
        for (const auto& kind : kinds)
        {
            const std::string name = std::string(value.label) + ": " + kind.name;
            Robustness::CAttack attack("registry (apps)", name);
            {
                const CSavedValue saved(value);
                EXPECT_TRUE(saved.Write(kind.type ? kind.type : value.type, kind.data)) << name;
                Restart();
                CheckKept(attack, app->Pid());
                CheckServes(attack, PIPE);
            }
            attack.Finish();
        }
    }
}
