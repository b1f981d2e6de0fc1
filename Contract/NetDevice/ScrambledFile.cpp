#include "ScrambledFile.h"

#include <exception>

#include "BoundedFile.h"

namespace NetDevice
{
namespace
{

// Reads `count` bytes at the file's position into text, which holds only
// what the file really gave. Allocates `count` bytes: the caller has
// checked it against the file's size and the cap.
DWORD ReadBytes(HANDLE file, size_t count, std::string& text)
{
    text.resize(count);
    size_t got = 0;
    const DWORD rc = Common::ReadUpTo(file, count ? &text[0] : nullptr, count, got);
    text.resize(rc == ERROR_SUCCESS ? got : 0);
    return rc;
}

} // namespace

DWORD ReadScrambledFile(const char* key, const std::wstring& path, std::string& text) noexcept
{
    text.clear();
    try
    {
        Common::CHandle file;
        ULONGLONG size = 0;
        const DWORD opened = Common::OpenBoundedFile(path, file, size);
        if (opened != ERROR_SUCCESS)
            return opened;
        if (size > CONFIG_MAX_BYTES)
            return ERROR_FILE_TOO_LARGE;
        // A file that grows meanwhile is read up to the size it had: the
        // cap holds whatever the writer does.
        const DWORD rc = ReadBytes(file.Get(), static_cast<size_t>(size), text);
        if (rc != ERROR_SUCCESS)
            return rc;
        Scramble(text, key);
        return ERROR_SUCCESS;
    }
    catch (const std::exception&)  // only the text's allocation can fail
    {
        text.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD ReadLengthPrefixedScrambledFile(const char* key, const std::wstring& path, std::string& text,
                                      CLengthField& field) noexcept
{
    text.clear();
    field = CLengthField();
    try
    {
        Common::CHandle file;
        ULONGLONG size = 0;
        const DWORD opened = Common::OpenBoundedFile(path, file, size);
        if (opened != ERROR_SUCCESS)
            return opened;
        unsigned char lengthBytes[LENGTH_FIELD_BYTES] = {};
        size_t got = 0;
        if (Common::ReadUpTo(file.Get(), lengthBytes, sizeof(lengthBytes), got) != ERROR_SUCCESS)
            return ERROR_READ_FAULT;
        if (got < sizeof(lengthBytes))
            return ERROR_SUCCESS;  // no whole length field: nothing to read

        field.declared = DecodeLengthField(lengthBytes);
        // (A file that was shorter than the field when its size was taken
        // has grown since; nothing follows the field as far as this read goes.)
        field.following = size >= LENGTH_FIELD_BYTES ? size - LENGTH_FIELD_BYTES : 0;
        // All three bounds before the allocation.
        if (!LengthFieldFits(field))
            return ERROR_BAD_LENGTH;

        const DWORD rc = ReadBytes(file.Get(), static_cast<size_t>(field.declared), text);
        if (rc != ERROR_SUCCESS)
            return rc;
        if (text.size() != static_cast<size_t>(field.declared))
        {
            // The file shrank between the size check and the read.
            field.following = text.size();
            text.clear();
            return ERROR_BAD_LENGTH;
        }
        Scramble(text, key);
        return ERROR_SUCCESS;
    }
    catch (const std::exception&)  // only the text's allocation can fail
    {
        text.clear();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace NetDevice
