#pragma once
// The walk of the smart-lighting configuration's JSON to its first bridge,
// texts still in UTF-8; HueBridgeConfig.cpp turns them into the record in
// the order it checks them. Free of any system header so that it is also
// built natively, where the fuzzers run it.
#include <string>
#include <vector>
#include <nlohmann/json.hpp>

namespace HueBridge
{

// One light group of the bridge: its "Id" and how many lights it holds (an
// array counts its elements, an object its members, a single value one,
// null and an absent "Lights" nothing).
struct CGroupLights
{
    std::string id;
    unsigned lights = 0;
};

class CBridgeJson
{
public:
    // Parses the text and finds "Bridges"[0]; the JSON library's errors
    // when it is not there.
    explicit CBridgeJson(const std::string& text);
    CBridgeJson(const CBridgeJson&) = delete;
    CBridgeJson& operator=(const CBridgeJson&) = delete;

    // A string member of the bridge; the library's error when it is
    // missing or not a string.
    std::string Text(const char* name) const;

    // Every group of "Groups" in the order walked: object members in the
    // library's byte order of their names, or array elements. Every group
    // must be an object with a string "Id" (the library's error otherwise);
    // "Groups" absent or null holds no group.
    std::vector<CGroupLights> Groups() const;

private:
    nlohmann::json m_root;
    const nlohmann::json* m_bridge = nullptr;
};

} // namespace HueBridge
