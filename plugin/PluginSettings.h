// The plug-in's registry values: the channel selection that the jukebox publishes, and the scale
// factor that the property page stores. Thread-safe (the registry functions are).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/ChannelHandoff.h"

namespace sinjoplugin {

// Where the jukebox publishes its channel selection: protocol/ChannelHandoff.h.
// Where the scale factor lives (HKEY_CURRENT_USER), REG_DWORD in 16.16 fixed point.
constexpr const wchar_t* kScaleFactorKey = L"Software\\SinjoPlugin\\DSP Plugin";
constexpr const wchar_t* kScaleFactorValue = L"ScaleFactor";

// A value of HKEY_CURRENT_USER read into a 4-byte buffer, whatever its type: the bytes as a
// little-endian number (a shorter value fills the low bytes). Nothing when the key or the value is
// missing or the value is longer than 4 bytes.
std::optional<uint32_t> ReadFourByteValue(std::wstring_view key, std::wstring_view name);

// The stored scale factor, or nothing when it cannot be read.
std::optional<double> ReadScaleFactorSetting();
// Creates the key when needed and stores the factor; false when that failed.
bool WriteScaleFactorSetting(double factor);

// 16.16 fixed point: the integer part (toward zero) of factor x 65536, for factors in 0.0 to 1.0.
uint32_t ScaleFactorToFixed(double factor);
double ScaleFactorFromFixed(uint32_t fixed);

}  // namespace sinjoplugin
