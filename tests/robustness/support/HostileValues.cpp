#include "HostileValues.h"

#include "TestEnv.h"

namespace Robustness
{
namespace
{

std::vector<BYTE> Text(size_t chars, wchar_t c)
{
    const std::wstring text(chars, c);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (chars + 1) * sizeof(wchar_t));
}

} // namespace

const std::vector<CHostileValue>& HostileTexts()
{
    static const std::vector<CHostileValue> forms = {
        {"of the wrong type", REG_DWORD, {7, 0, 0, 0}},
        {"empty", REG_SZ, {}},
        // The longest path the system takes, and an odd byte count without
        // a terminator.
        {"of 32,767 characters", REG_SZ, Text(32767, L'C')},
        {"unterminated, odd length", REG_SZ, {'A', 0, 'B', 0, 'C'}},
        {"of a megabyte", REG_SZ, Text(512 * 1024 - 1, L'M')},
    };
    return forms;
}

const std::vector<CHostileValue>& HostileNumbers()
{
    static const std::vector<CHostileValue> forms = {
        {"of the wrong type", REG_SZ, Text(4, L'1')},
        {"empty", REG_DWORD, {}},
        {"of 8 bytes", REG_QWORD, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"of a megabyte", REG_BINARY, std::vector<BYTE>(1024 * 1024, 0xA5)},
    };
    return forms;
}

void WriteHostile(const std::wstring& keyPath, const std::wstring& name, const CHostileValue& value)
{
    TestEnv::RegWriteValue(keyPath, name, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

} // namespace Robustness
