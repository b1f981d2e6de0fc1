#include "HueBridgeWalk.h"

#include "ConfigNames.h"

using nlohmann::json;

namespace HueBridge
{

CBridgeJson::CBridgeJson(const std::string& text) : m_root(json::parse(text))
{
    m_bridge = &m_root.at(NetDevice::HUE_BRIDGES).at(0);
}

std::string CBridgeJson::Text(const char* name) const
{
    return m_bridge->at(name).get<std::string>();
}

std::vector<CGroupLights> CBridgeJson::Groups() const
{
    std::vector<CGroupLights> found;
    const auto groups = m_bridge->find(NetDevice::HUE_GROUPS);
    if (groups == m_bridge->end())
        return found;
    for (const json& group : *groups)
    {
        CGroupLights entry;
        entry.id = group.at(NetDevice::HUE_ID).get<std::string>();
        const auto lights = group.find(NetDevice::HUE_LIGHTS);
        entry.lights = lights == group.end() ? 0 : static_cast<unsigned>(lights->size());
        found.push_back(std::move(entry));
    }
    return found;
}

} // namespace HueBridge
