#pragma once
// The IoT device manager: attaches the network lights of the IoT device
// list, each through its own plug-in copy.
#include "IoTDeviceList.h"
#include "NetDeviceManager.h"

class CIoTDeviceManager final : public CNetDeviceManager<Common::IoT::_DEVICEINFOTYPE>
{
public:
    using CRecord = Common::IoT::_DEVICEINFOTYPE;

    CIoTDeviceManager() noexcept;
    ~CIoTDeviceManager() override;

    static const wchar_t* ClassName() noexcept { return L"CIoTDeviceManager"; }

protected:
    DWORD GetDevicesInfo(const std::wstring& path) override;
    bool CompareForRemoval(const wchar_t* function, const CRecord& connected,
                           const CRecord& discovered) noexcept override;
    bool IsAlreadyAttached(const wchar_t* function, const CRecord& connected,
                           const CRecord& discovered) noexcept override;
    bool TakesPart(const CRecord& record) const noexcept override { return true; }
    void LogRecord(const wchar_t* function, int32_t index, const CRecord& record) noexcept override;
    DWORD CheckIdentifier(const wchar_t* function, const CRecord& record) noexcept override;
    std::wstring DeviceModuleName(const CRecord& record) const override;
    bool RemoveRefusesPidZero() const noexcept override { return true; }

};
