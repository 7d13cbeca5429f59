#include "plugin/PluginSettings.h"

#include <vector>

#include "platform/Registry.h"

namespace sinjoplugin {

std::optional<uint32_t> ReadFourByteValue(std::wstring_view key, std::wstring_view name) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (platform::RegQueryValueBytes(platform::RegRoot::CurrentUser, key, name, &type, &data) !=
        platform::ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (data.size() > 4) return std::nullopt;  // does not fit the buffer: unreadable
    uint32_t value = 0;
    for (size_t i = 0; i < data.size(); ++i) value |= static_cast<uint32_t>(data[i]) << (8 * i);
    return value;
}

std::optional<double> ReadScaleFactorSetting() {
    const std::optional<uint32_t> fixed = ReadFourByteValue(kScaleFactorKey, kScaleFactorValue);
    if (!fixed) return std::nullopt;
    return ScaleFactorFromFixed(*fixed);
}

bool WriteScaleFactorSetting(double factor) {
    return platform::RegSetDword(platform::RegRoot::CurrentUser, kScaleFactorKey, kScaleFactorValue,
                                 ScaleFactorToFixed(factor)) == platform::ERROR_SUCCESS;
}

uint32_t ScaleFactorToFixed(double factor) {
    // Callers pass checked factors; clamp anyway so that no input makes the conversion undefined.
    const double scaled = factor * 65536.0;
    if (!(scaled > 0.0)) return 0;  // also NaN
    if (scaled >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(scaled);
}

double ScaleFactorFromFixed(uint32_t fixed) { return static_cast<double>(fixed) / 65536.0; }

}  // namespace sinjoplugin
