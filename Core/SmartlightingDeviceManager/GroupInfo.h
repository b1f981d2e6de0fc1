#pragma once
// The group information of a bridge record, {"LightChannels":N,
// "SelectedGroup":"..."}, and the field texts the comparisons use.
#include <string>

namespace HueBridge
{

// Text of one member of a JSON text: "" -> empty, a number -> "%d" of its
// 32-bit value (fractions truncated), else its compact JSON with every
// double quote removed ("7" -> 7, null -> null). Throws the JSON library's
// exceptions for a text that is not a JSON object.
std::wstring GetJsonFieldText(const std::wstring& name, const std::wstring& text);

// The same without throwing: false with the library's message in `error`.
bool TryGetJsonFieldText(const std::wstring& name, const std::wstring& text, std::wstring& out,
                         std::wstring& error) noexcept;

// Compact {"LightChannels":lights,"SelectedGroup":selected}, selected given
// as the file's bytes (ANSI), the result in UTF-16.
std::wstring MakeGroupInfo(unsigned lights, const std::string& selectedGroup);

} // namespace HueBridge
