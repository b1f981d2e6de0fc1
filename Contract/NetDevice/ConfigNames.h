#pragma once
// The JSON member names of the two configuration files (see ConfigFiles.h).
// The other SDK processes write them and the device managers read them:
// one name out of step and a device is silently never attached.
namespace NetDevice
{

// Smart-lighting: {"Bridges":[{"Id","Name","IpAddress","SelectedGroup",
// "Groups":{...}}]}, each group {"Id","Lights":[...]}.
constexpr char HUE_BRIDGES[] = "Bridges";
constexpr char HUE_ID[] = "Id";  // of a bridge and of a group
constexpr char HUE_NAME[] = "Name";
constexpr char HUE_IP_ADDRESS[] = "IpAddress";
constexpr char HUE_SELECTED_GROUP[] = "SelectedGroup";
constexpr char HUE_GROUPS[] = "Groups";
constexpr char HUE_LIGHTS[] = "Lights";

// IoT: an array of device objects.
constexpr char IOT_PID[] = "pid";
constexpr char IOT_EID[] = "eid";
constexpr char IOT_HANDLE[] = "handle";
constexpr char IOT_DEVICE_NAME[] = "device_name";
constexpr char IOT_MAC_ADDRESS[] = "mac_address";
constexpr char IOT_IP_ADDRESS[] = "ip_address";
constexpr char IOT_SERIAL_NUMBER[] = "serial_number";

} // namespace NetDevice
