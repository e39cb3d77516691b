#include "core/reply_text.h"

#include "core/cp1251.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace dm {
namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

std::uint64_t WordAt(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Bit 7 set in each byte of the word that is above 0x7F, zero or a line feed; exact, as
// no carry crosses from one byte into the next.
std::uint64_t SpecialBytes(std::uint64_t word) {
    const auto zeroBytes = [](std::uint64_t v) { return ~(((v & ~kHighs) + ~kHighs) | v) & kHighs; };
    return (word & kHighs) | zeroBytes(word) | zeroBytes(word ^ (kOnes * '\n'));
}

bool IsSpecial(char c) { return static_cast<unsigned char>(c) >= 0x80 || c == '\0' || c == '\n'; }

// The first byte from `from` on that is above 0x7F, zero or a line feed; end if none.
const char* NextSpecial(const char* from, const char* end) {
    for (; end - from >= 8; from += 8) {
        if (const std::uint64_t marks = SpecialBytes(WordAt(from))) {
            const int bit = std::endian::native == std::endian::little ? std::countr_zero(marks)
                                                                       : std::countl_zero(marks);
            return from + bit / 8;
        }
    }
    while (from < end && !IsSpecial(*from))
        ++from;
    return from;
}

// Bytes above 0x7F, which may take up to three bytes each as UTF-8.
std::size_t CountHighBytes(std::string_view bytes) {
    std::size_t n = 0, i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        // Rare in a reply: a word without them is passed at once.
        for (std::uint64_t highs = WordAt(bytes.data() + i) & kHighs; highs; highs &= highs - 1)
            ++n;
    }
    for (; i < bytes.size(); ++i)
        n += static_cast<unsigned char>(bytes[i]) >= 0x80;
    return n;
}

} // namespace

std::string NormaliseReplyBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
        if (c == '\0') {
            out += ' ';
        } else if (c == '\n') {
            out += '\r';
            out += '\n';
        } else {
            out += c;
        }
    }
    return out;
}

std::size_t CountLineFeeds(std::string_view text) {
    std::size_t n = 0, i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        // 0x80 in each byte that equals LF, nothing elsewhere (no carries across bytes).
        const std::uint64_t x = WordAt(text.data() + i) ^ (kOnes * '\n');
        const std::uint64_t lf = ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
        n += static_cast<std::size_t>(((lf >> 7) * kOnes) >> 56);
    }
    for (; i < text.size(); ++i)
        n += text[i] == '\n';
    return n;
}

std::string ReplyTextFromBytes(std::string_view bytes) {
    // Sized once for the worst case, then filled by runs: the byte that ends a run is found
    // eight bytes at a time, the run copied in bulk (nearly all of a reply).
    std::string out;
    out.resize(bytes.size() + CountLineFeeds(bytes) + 2 * CountHighBytes(bytes));
    char* to = out.data();
    const char* from = bytes.data();
    const char* const end = from + bytes.size();
    while (from < end) {
        const char* run = from;
        from = NextSpecial(from, end);
        std::memcpy(to, run, static_cast<std::size_t>(from - run));
        to += from - run;
        if (from == end)
            break;
        const auto b = static_cast<unsigned char>(*from++);
        if (b == 0) {
            *to++ = ' ';
        } else if (b == '\n') {
            *to++ = '\r';
            *to++ = '\n';
        } else {
            const std::string utf8 = Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(&b), 1));
            std::memcpy(to, utf8.data(), utf8.size());
            to += utf8.size();
        }
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
    return out;
}

} // namespace dm
