#include "GroupInfo.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <nlohmann/json.hpp>

#include "ConfigReader.h"
#include "JsonNesting.h"
#include "TextCodec.h"

using nlohmann::json;

namespace HueBridge
{
namespace
{

uint32_t Low32(uint64_t bits) noexcept
{
    return static_cast<uint32_t>(bits & 0xFFFFFFFFu);
}

// A number as the 32-bit integer the comparisons print: integers keep their
// low 32 bits; a floating value is truncated toward zero, and one outside
// the 32-bit range (or NaN) gives 0x80000000, as the processor's own
// conversion does.
int32_t Int32Of(const json& number) noexcept
{
    uint32_t bits = 0;
    if (number.is_number_unsigned())
        bits = Low32(number.get<uint64_t>());
    else if (number.is_number_integer())
        bits = Low32(static_cast<uint64_t>(number.get<int64_t>()));
    else
    {
        const double value = number.get<double>();
        if (value > -2147483649.0 && value < 2147483648.0)
            return static_cast<int32_t>(value);
        bits = 0x80000000u;
    }
    return static_cast<int32_t>(bits);
}

} // namespace

std::wstring GetJsonFieldText(const std::wstring& name, const std::wstring& text)
{
    const std::string utf8 = TextCodec::WideToUtf8(text);
    if (!Common::JsonNestingWithin(utf8.data(), utf8.size(), NetDevice::CONFIG_MAX_NESTING))
        throw std::runtime_error("the JSON text is nested too deeply");
    const json document = json::parse(utf8);
    // value() answers the default for an absent member, and throws the
    // library's type error for anything but an object.
    const json value = document.value(TextCodec::WideToUtf8(name), json());

    if (value.is_string() && value.get_ref<const std::string&>().empty())
        return std::wstring();
    if (value.is_number())
        return std::to_wstring(Int32Of(value));
    std::string compact = value.dump();
    compact.erase(std::remove(compact.begin(), compact.end(), '"'), compact.end());
    return TextCodec::Utf8ToWide(compact);
}

bool TryGetJsonFieldText(const std::wstring& name, const std::wstring& text, std::wstring& out,
                         std::wstring& error) noexcept
{
    out.clear();
    error.clear();
    try
    {
        out = GetJsonFieldText(name, text);
        return true;
    }
    catch (const std::exception& e)
    {
        error = NetDevice::MessageText(e.what());
    }
    catch (...)
    {
        error = NetDevice::MessageText("unknown failure");
    }
    return false;
}

std::wstring MakeGroupInfo(unsigned lights, const std::string& selectedGroup)
{
    // The library keeps object members in byte order of their names, which
    // puts "LightChannels" before "SelectedGroup", the order readers expect.
    json info = json::object();
    info["LightChannels"] = lights;
    info["SelectedGroup"] = selectedGroup;
    return TextCodec::Utf8ToWide(info.dump());
}

} // namespace HueBridge
