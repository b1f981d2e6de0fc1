#include "RecordText.h"

#include <cstring>

namespace NetDevice
{

bool CopyRecordText(wchar_t (&field)[Common::DEVICE_TEXT_CHARS], const std::wstring& text) noexcept
{
    if (text.size() >= Common::DEVICE_TEXT_CHARS)
        return false;
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, text.data(), text.size() * sizeof(wchar_t));
    return true;
}

} // namespace NetDevice
