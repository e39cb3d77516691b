#include "core/cp1251.h"
#include "core/reply_text.h"
#include "core/settings_files.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)dm::AccessMaskFromText(text);
    (void)dm::LanguageFromText(text);
    const std::string utf8 = dm::Cp1251ToUtf8(text);
    if (dm::Utf8ToCp1251(utf8) != text)
        __builtin_trap(); // every byte must survive the round trip
    (void)dm::Utf8ToCp1251(text); // arbitrary bytes as UTF-8 input
    (void)dm::ReplyTextFromBytes(text);
    return 0;
}
