#include "core/reply_text.h"

#include "core/cp1251.h"

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

bool HasZeroByte(std::uint64_t v) { return ((v - kOnes) & ~v & kHighs) != 0; }

// True when none of the eight bytes at p is above 0x7F, zero or a line feed.
bool IsPlainWord(const char* p) {
    const std::uint64_t word = WordAt(p);
    return (word & kHighs) == 0 && !HasZeroByte(word) && !HasZeroByte(word ^ (kOnes * '\n'));
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

std::size_t CountLineFeeds(std::string_view bytes) {
    std::size_t n = 0;
    for (const char* p = bytes.data(), *end = p + bytes.size();
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))); ++p)
        ++n;
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

std::string ReplyTextFromBytes(std::string_view bytes) {
    // Sized once for the worst case, then filled by runs: plain bytes are found eight at a
    // time and copied in bulk, which is nearly all of a reply; the rest go one by one.
    std::string out;
    out.resize(bytes.size() + CountLineFeeds(bytes) + 2 * CountHighBytes(bytes));
    char* to = out.data();
    const char* from = bytes.data();
    const char* const end = from + bytes.size();
    while (from < end) {
        const char* run = from;
        while (end - from >= 8 && IsPlainWord(from))
            from += 8;
        while (from < end && static_cast<unsigned char>(*from) < 0x80 && *from != '\0' && *from != '\n')
            ++from;
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
