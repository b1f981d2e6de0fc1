#pragma once
// The forms a registry value written by another process can take that its
// reader does not expect: of the wrong type, empty, of the greatest size
// its type allows a reader to meet, and a megabyte.
#include <windows.h>
#include <string>
#include <vector>

namespace Robustness
{

struct CHostileValue
{
    const char* form;
    DWORD type;
    std::vector<BYTE> data;
};

// For a value read as text (REG_SZ).
const std::vector<CHostileValue>& HostileTexts();
// For a value read as a number (REG_DWORD).
const std::vector<CHostileValue>& HostileNumbers();
// Writes the form under keyPath\name (32-bit view), creating the key.
void WriteHostile(const std::wstring& keyPath, const std::wstring& name, const CHostileValue& value);

} // namespace Robustness
