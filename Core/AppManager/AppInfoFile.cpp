// Reading an app's "KaleoAppInfo.xml". The file belongs to the app, not to
// us: it is read bounded, parsed from memory, and every text taken from it
// is bounded before it is stored.
#include "AppInfoFile.h"

#include <new>
#include <vector>

#include <pugixml.hpp>

#include "BoundedFile.h"

using namespace Common;

namespace AppInfo
{

namespace
{

static_assert(sizeof(pugi::char_t) == sizeof(wchar_t), "pugixml must be the wide-character build");

constexpr wchar_t kVexelZone[] = L"vexelzone";
constexpr wchar_t kVexel[] = L"vexel";

std::wstring Cut(const wchar_t* text, size_t maxChars)
{
    if (!text)
        return std::wstring();
    size_t length = 0;
    while (length < maxChars && text[length] != L'\0')
        ++length;
    return std::wstring(text, length);
}

// Element text: the value of the first child node, empty without one.
std::wstring ElementText(const pugi::xml_node& element, size_t maxChars)
{
    return Cut(element.first_child().value(), maxChars);
}

DWORD ReadDevices(const pugi::xml_node& element)
{
    DWORD devices = 0;
    for (const CDeviceClass& deviceClass : DEVICE_CLASSES)
    {
        if (deviceClass.dwBit == DEVICE_HOMELIGHTING)
            continue; // two attributes and a default, below
        if (IsTrueText(element.attribute(deviceClass.pszName).value()))
            devices |= deviceClass.dwBit;
    }
    const pugi::xml_attribute home = element.attribute(L"homelighting");
    const pugi::xml_attribute hue = element.attribute(L"philipshue");
    if ((!home && !hue) || IsTrueText(home.value()) || IsTrueText(hue.value()))
        devices |= DEVICE_HOMELIGHTING;
    return devices;
}

void ReadContent(const pugi::xml_document& document, CAppInfoContent& content)
{
    const pugi::xml_node application = document.child(L"application");
    if (!application)
        return;
    content.hasApplication = true;

    if (const pugi::xml_node title = application.child(L"title"))
    {
        content.hasTitle = true;
        content.title = ElementText(title, FILE_TEXT_MAX_CHARS);
    }
    if (const pugi::xml_node description = application.child(L"description"))
    {
        content.hasDescription = true;
        content.description = ElementText(description, FILE_TEXT_MAX_CHARS);
    }
    if (const pugi::xml_node author = application.child(L"author"))
    {
        content.hasAuthor = true;
        content.author = Cut(author.attribute(L"name").value(), FILE_TEXT_MAX_CHARS);
        // Whole: the contact rule runs before the cut. The file's size
        // bounds it.
        content.contact = Cut(author.attribute(L"contact").value(), APP_INFO_FILE_MAX_BYTES);
    }
    if (const pugi::xml_node devices = application.child(L"device_supported"))
    {
        content.hasDevices = true;
        content.devices = ReadDevices(devices);
    }
    const pugi::xml_node category = application.child(L"category");
    content.category =
        category && IsTrueText(category.attribute(L"game").value()) ? CATEGORY_GAME : CATEGORY_APPLICATION;
}

} // namespace

std::wstring ApplyContactRule(const std::wstring& contact)
{
    std::wstring result;
    result.reserve(contact.size());
    const size_t zoneChars = sizeof(kVexelZone) / sizeof(wchar_t) - 1;
    size_t from = 0;
    for (size_t at = contact.find(kVexelZone); at != std::wstring::npos; at = contact.find(kVexelZone, from))
    {
        result.append(contact, from, at - from);
        result += kVexel;
        from = at + zoneChars;
    }
    result.append(contact, from, std::wstring::npos);
    if (result.size() > FILE_TEXT_MAX_CHARS)
        result.resize(FILE_TEXT_MAX_CHARS);
    return result;
}

DWORD ReadAppInfoFile(const std::wstring& folder, CAppInfoContent& content) noexcept
{
    try
    {
        std::vector<char> bytes;
        const DWORD rc = ReadBoundedFile(folder + L"\\" + APP_INFO_FILE_NAME, APP_INFO_FILE_MAX_BYTES, bytes);
        if (rc != ERROR_SUCCESS)
            return rc;

        pugi::xml_document document;
        const pugi::xml_parse_result parsed =
            document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
        if (parsed.status == pugi::status_out_of_memory)
            return ERROR_NOT_ENOUGH_MEMORY;
        if (!parsed)
            return ERROR_INVALID_DATA;

        CAppInfoContent read;
        ReadContent(document, read);
        content = std::move(read);
        return ERROR_SUCCESS;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    catch (...)
    {
        return ERROR_FUNCTION_FAILED;
    }
}

} // namespace AppInfo
