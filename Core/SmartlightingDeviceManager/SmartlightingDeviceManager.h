#pragma once
// The smart-lighting device manager: attaches the configured Philips Hue
// bridge through its plug-in.
#include "HueBridgeConfig.h"
#include "NetDeviceManager.h"

class CSmartlightingDeviceManager final : public CNetDeviceManager<Common::SmartLighting::_DEVICEINFOTYPE>
{
public:
    using CRecord = Common::SmartLighting::_DEVICEINFOTYPE;

    CSmartlightingDeviceManager() noexcept;
    ~CSmartlightingDeviceManager() override;

    static const wchar_t* ClassName() noexcept { return L"CSmartlightingDeviceManager"; }
    DWORD Debug() const noexcept { return m_debug; }

protected:
    DWORD GetDevicesInfo(const std::wstring& path) override;
    void OnStart() noexcept override;
    bool CompareForRemoval(const wchar_t* function, const CRecord& connected,
                           const CRecord& discovered) noexcept override;
    bool IsAlreadyAttached(const wchar_t* function, const CRecord& connected,
                           const CRecord& discovered) noexcept override;
    bool TakesPart(const CRecord& record) const noexcept override;
    void LogRecord(const wchar_t* function, int32_t index, const CRecord& record) noexcept override;
    DWORD CheckIdentifier(const wchar_t* function, const CRecord& record) noexcept override;
    std::wstring DeviceModuleName(const CRecord& record) const override;
    bool RemoveRefusesPidZero() const noexcept override { return false; }

private:
    bool CompareGroups(const wchar_t* function, const CRecord& connected, const CRecord& discovered,
                       bool logDifference) noexcept;

    DWORD m_debug = 0;
};
