#pragma once
// The group information of a bridge record, {"LightChannels":N,
// "SelectedGroup":"..."}, and the field texts the comparisons use.
#include <string>

namespace HueBridge
{

// Text of one member of a JSON text (an absent member reads as null):
// "" -> empty, a number -> "%d" of its 32-bit value (fractions truncated),
// else its compact JSON with every double quote removed ("7" -> 7,
// null -> null). Throws the JSON library's exceptions for a text that is
// not a JSON object, std::runtime_error for a text that cannot be
// converted to UTF-8 or is nested too deeply, std::bad_alloc.
std::wstring GetJsonFieldText(const std::wstring& name, const std::wstring& text);

// The same without throwing: false with the reason (the library's
// message) in `error` and `out` empty.
bool TryGetJsonFieldText(const std::wstring& name, const std::wstring& text, std::wstring& out,
                         std::wstring& error) noexcept;

// Compact {"LightChannels":lights,"SelectedGroup":selected}, selected given
// as the file's bytes (UTF-8), the result in UTF-16. Throws the JSON
// library's type error for bytes that are not UTF-8 (a parsed text never
// holds such), std::runtime_error when the result cannot be converted,
// std::bad_alloc.
std::wstring MakeGroupInfo(unsigned lights, const std::string& selectedGroup);

} // namespace HueBridge
