#include "core/format.h"
#include "core/numbers.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double v = dm::ParseDeviceNumber(text);
    (void)dm::FormatDose(v, dm::Language::English);
    (void)dm::FormatDoseChart(v, dm::Language::Russian);
    (void)dm::FormatDuration(dm::LeadingInteger(text));
    return 0;
}
