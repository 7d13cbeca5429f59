#include "platform/WindowSystem.h"

#include <array>
#include <atomic>
#include <utility>

#include "platform/Tick.h"

namespace platform::winsys {
namespace {

// Set-1 scan codes of the keys of a PC keyboard that have a virtual key, indexed by virtual key.
constexpr std::array<uint16_t, 256> MakeScanCodeTable() {
    std::array<uint16_t, 256> table{};
    const std::pair<uint16_t, uint16_t> pairs[] = {
        {0x08, 0x0E},  // Backspace
        {0x09, 0x0F},  // Tab
        {0x0D, 0x1C},  // Enter
        {0x10, 0x2A},  // Shift (left)
        {0x11, 0x1D},  // Ctrl (left)
        {0x12, 0x38},  // Alt (left)
        {0x14, 0x3A},  // Caps Lock
        {0x1B, 0x01},  // Escape
        {0x20, 0x39},  // Space
        {0x21, 0x49},  // Page Up
        {0x22, 0x51},  // Page Down
        {0x23, 0x4F},  // End
        {0x24, 0x47},  // Home
        {0x25, 0x4B},  // Left
        {0x26, 0x48},  // Up
        {0x27, 0x4D},  // Right
        {0x28, 0x50},  // Down
        {0x2D, 0x52},  // Insert
        {0x2E, 0x53},  // Delete
        {'0', 0x0B},
        {'A', 0x1E}, {'B', 0x30}, {'C', 0x2E}, {'D', 0x20}, {'E', 0x12}, {'F', 0x21}, {'G', 0x22},
        {'H', 0x23}, {'I', 0x17}, {'J', 0x24}, {'K', 0x25}, {'L', 0x26}, {'M', 0x32}, {'N', 0x31},
        {'O', 0x18}, {'P', 0x19}, {'Q', 0x10}, {'R', 0x13}, {'S', 0x1F}, {'T', 0x14}, {'U', 0x16},
        {'V', 0x2F}, {'W', 0x11}, {'X', 0x2D}, {'Y', 0x15}, {'Z', 0x2C},
        {0x7A, 0x57},  // F11
        {0x7B, 0x58},  // F12
    };
    for (const auto& [vk, scan] : pairs) table[vk] = scan;
    for (uint16_t d = 1; d <= 9; ++d) table['0' + d] = static_cast<uint16_t>(0x01 + d);  // '1' is 0x02
    for (uint16_t f = 0; f < 10; ++f) table[0x70 + f] = static_cast<uint16_t>(0x3B + f);  // F1..F10
    return table;
}

constexpr std::array<uint16_t, 256> kScanCodes = MakeScanCodeTable();

// The registered display back end. A plain function pointer, so it is set during static
// initialisation without any ordering concern and read lock-free.
std::atomic<DisplayWindowSystemFactory> g_displayFactory{nullptr};

}  // namespace

uint16_t MapVirtualKeyToScanCode(uint16_t virtualKey) {
    return virtualKey < kScanCodes.size() ? kScanCodes[virtualKey] : 0;
}

void HeadlessWindowSystem::Sleep(uint32_t ms) { platform::Sleep(ms); }

void RegisterDisplayWindowSystem(DisplayWindowSystemFactory factory) { g_displayFactory.store(factory); }

std::unique_ptr<WindowSystem> CreateWindowSystem() {
    if (!IsHeadless()) {
        if (const DisplayWindowSystemFactory factory = g_displayFactory.load()) {
            if (std::unique_ptr<WindowSystem> system = factory()) return system;
        }
    }
    return std::make_unique<HeadlessWindowSystem>();
}

}  // namespace platform::winsys
