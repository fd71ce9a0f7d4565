// The adapter's FTDI chip, one row per variant, and the bench's clock.
#pragma once

#include <cstdint>

#include "scenario.h"

namespace tapsim {

// Model time counts ticks of 60 MHz: one TCK is 2 * (1 + divisor) ticks on
// the 60 MHz base and five times that on the 12 MHz one, so both are exact.
constexpr uint64_t kTicksPerUs = 60;

struct ChipVariant {
    Variant variant;
    const char *name;
    uint16_t bcd_device;
    uint16_t packet_size;    // bulk wMaxPacketSize
    uint16_t to_chip_buffer; // host-to-chip bytes per channel
    uint16_t to_host_buffer; // chip-to-host bytes per channel
    bool high_speed_opcodes; // 0x8A-0x8F, 0x94-0x97, 0x9C, 0x9D
    uint32_t usb_us;         // one bulk transfer: a frame, or a microframe
};

// Data sheets: the full-speed dual chip buffers 128 bytes towards the chip
// and 384 towards the host per channel; the high-speed one 4 KiB each way.
constexpr ChipVariant kChipVariants[] = {
    {Variant::FullSpeed, "full-speed", 0x0500, 64, 128, 384, false, 1000},
    {Variant::HighSpeed, "high-speed", 0x0700, 512, 4096, 4096, true, 125},
};

inline const ChipVariant &chip_variant(Variant v)
{
    return kChipVariants[v == Variant::HighSpeed ? 1 : 0];
}

} // namespace tapsim
