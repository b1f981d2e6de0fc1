// The frame's code for both record layouts. The parts live in one .inl
// each; this file instantiates them once for each module's record.
#include "NetDeviceManager.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <map>
#include <vector>

#include "DeviceCatalog.h"
#include "GlobalSecurity.h"
#include "LogWriter.h"
#include "ThreadOwner.h"
#include "NetDeviceNames.h"
#include "RecordText.h"
#include "Registry.h"
#include "TextCodec.h"

CFunctionName::CFunctionName(const wchar_t* className, const wchar_t* function) noexcept
{
    std::swprintf(m_text, sizeof(m_text) / sizeof(m_text[0]), L"%ls::%ls", className, function);
}

namespace
{

// Entries of a table in key order, for walks whose log lines should read
// the same from run to run.
template <typename TTable>
std::vector<std::pair<int32_t, const typename TTable::mapped_type*>> SortedRecords(const TTable& table)
{
    std::vector<std::pair<int32_t, const typename TTable::mapped_type*>> out;
    out.reserve(table.size());
    for (const auto& entry : table)
        out.emplace_back(entry.first, &entry.second);
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

} // namespace

#include "ManagerFrame.inl"
#include "PluginAttach.inl"
#include "Reconcile.inl"

template class CNetDeviceManager<Common::SmartLighting::_DEVICEINFOTYPE>;
template class CNetDeviceManager<Common::IoT::_DEVICEINFOTYPE>;
