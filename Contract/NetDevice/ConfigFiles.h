#pragma once
// The configuration files other SDK processes write for the network device
// managers: JSON under a repeating-key XOR (see ScrambledFile.h), one key
// per module. The writers and the readers must use the same key.
namespace NetDevice
{

// Smart-lighting configuration: the whole file is scrambled.
constexpr char SMARTLIGHTING_CONFIG_KEY[] = "Qd0x7E4BLmn0x0A2C";
// IoT device list: a 32-bit length, then that many scrambled bytes.
constexpr char IOT_CONFIG_KEY[] = "Qd0x7E4BWtr";

} // namespace NetDevice
