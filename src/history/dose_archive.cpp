#include "history/dose_archive.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "core/reply_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace dm {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// A span [begin, end) of the reply text.
struct Span {
    std::size_t begin;
    std::size_t end;
};

TextSpan ToTextSpan(Span s) {
    if (s.end <= s.begin)
        return {static_cast<std::uint32_t>(s.begin), 0};
    return {static_cast<std::uint32_t>(s.begin), static_cast<std::uint32_t>(s.end - s.begin)};
}

std::string_view Slice(std::string_view text, Span s) {
    return s.end > s.begin ? text.substr(s.begin, s.end - s.begin) : std::string_view{};
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
bool IsAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

// Byte length of the character at pos; the replies are almost all ASCII.
std::size_t CharLength(std::string_view text, std::size_t pos) {
    return IsAscii(text[pos]) ? 1 : Utf8CharLength(text, pos);
}

// Takes one character off the front of the span (one UTF-8 character, not one byte).
void DropFirstChar(std::string_view text, Span& s) {
    if (s.begin < s.end)
        s.begin = std::min(s.end, s.begin + CharLength(text, s.begin));
}

// Takes one character off the back of the span.
void DropLastChar(std::string_view text, Span& s) {
    if (s.begin >= s.end)
        return;
    std::size_t p = s.end - 1;
    if (IsAscii(text[p])) {
        s.end = p;
        return;
    }
    // Step back over at most three continuation bytes to the lead byte of a character
    // that ends exactly at s.end; anything else counts as one invalid byte.
    std::size_t lead = p;
    for (int k = 0; k < 3 && lead > s.begin && IsContinuationByte(text[lead]); ++k)
        --lead;
    if (lead != p && Utf8CharLength(text, lead) == s.end - lead)
        p = lead;
    s.end = p;
}

// The characters of a line that belong to its fields. A line ended by an LF gives up the
// two characters before the LF by position (the CR and the character the dosimeter puts
// before its own line end). A last line without an LF has no such line end: only the CRs
// it does end with (at most two) go, so its value reads as it would on any other line.
Span LineContent(std::string_view text, std::size_t begin, std::size_t lf) {
    Span s{begin, lf == npos ? text.size() : lf};
    if (lf != npos && s.end - s.begin >= 2 && IsAscii(text[s.end - 1]) && IsAscii(text[s.end - 2])) {
        s.end -= 2; // the usual CR CR
        return s;
    }
    if (lf != npos) {
        DropLastChar(text, s);
        DropLastChar(text, s);
    } else {
        for (int k = 0; k < 2 && s.end > s.begin && text[s.end - 1] == '\r'; ++k)
            --s.end;
    }
    return s;
}

// True when at least n characters follow position pos (pos included).
bool HasAtLeastChars(std::string_view text, std::size_t pos, int n) {
    // No character is longer than four bytes: far from the end, no need to count.
    if (pos <= text.size() && text.size() - pos >= 4 * static_cast<std::size_t>(n))
        return true;
    for (int k = 0; k < n; ++k) {
        if (pos >= text.size())
            return false;
        pos += CharLength(text, pos);
    }
    return true;
}

// The first c in [begin, end), or npos: a search never runs past the line it is for, so
// lines without the character cost their own length, not the rest of the text.
std::size_t FindIn(std::string_view text, char c, std::size_t begin, std::size_t end) {
    if (begin >= end)
        return npos;
    const void* hit = std::memchr(text.data() + begin, c, end - begin);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : npos;
}

std::size_t FindLf(std::string_view text, std::size_t from) {
    return FindIn(text, '\n', from, text.size());
}

std::size_t LineFeedsIn(std::string_view text, std::size_t begin, std::size_t end) {
    return begin < end ? CountLineFeeds(text.substr(begin, end - begin)) : 0;
}

// The dosimeter's closing "Result" line; a dose text is short, so a plain scan.
bool HoldsResult(std::string_view line) {
    constexpr std::string_view kResult = "Result";
    for (std::size_t i = 0; i + kResult.size() <= line.size(); ++i)
        if (line[i] == 'R' && line.substr(i, kResult.size()) == kResult)
            return true;
    return false;
}

// Reads a column of numbers. An archive holds accumulated doses written with few digits,
// so a record mostly repeats the text of the one before; that text is read once.
class NumberColumn {
public:
    double operator()(std::string_view text) {
        if (!valid_ || !Same(text, last_)) {
            value_ = ParseDeviceNumber(text);
            last_ = text;
            valid_ = true;
        }
        return value_;
    }

private:
    // A byte loop: these texts are a few characters long, shorter than a memcmp call.
    static bool Same(std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i])
                return false;
        return true;
    }

    bool valid_ = false;
    std::string_view last_;
    double value_ = 0.0;
};

std::string_view TextOf(std::string_view text, TextSpan span) { return text.substr(span.offset, span.length); }

// The values, in a pass of their own once every line is scanned: the multiplications or
// divisions that scale one number wait for each other, and in a tight loop those of the
// next records run alongside.
void ReadValues(std::string_view text, std::vector<GammaDoseRecord>& gamma,
                std::vector<NeutronDoseRecord>& neutron) {
    NumberColumn gammaDoses;
    for (GammaDoseRecord& r : gamma)
        r.sv = gammaDoses(TextOf(text, r.doseText));
    NumberColumn neutronDoses, coefficients;
    for (NeutronDoseRecord& r : neutron)
        r.sv = neutronDoses(TextOf(text, r.doseText));
    for (NeutronDoseRecord& r : neutron)
        r.coefficient = coefficients(TextOf(text, r.coefficientText));
}

// ---- layout A ----------------------------------------------------------------------

// Gamma lines run from after the first LF up to and including the LF that ends the line
// before the first neutron line (neutronStart). firstLf < neutronStart here. A "Result"
// line, or a line too short to hold a dose, ends them.
void ReadGammaRecordsA(std::string_view text, std::size_t firstLf, std::size_t neutronStart,
                       double historyInterval, std::vector<GammaDoseRecord>& records) {
    records.reserve(LineFeedsIn(text, firstLf + 1, neutronStart));
    const std::size_t lastGammaLf = neutronStart - 1;
    std::size_t lf = firstLf;
    long long record = 0;
    while (lf < lastGammaLf) {
        ++record;
        if (!HasAtLeastChars(text, lf + 1, 4))
            break;
        const std::size_t next = FindLf(text, lf + 1);
        Span s = LineContent(text, lf + 1, next);
        if (record == 1)
            DropFirstChar(text, s);
        const std::string_view doseText = Slice(text, s);
        if (HoldsResult(doseText))
            break;
        records.push_back({GammaRecordSeconds(record, historyInterval), 0.0, ToTextSpan(s)});
        if (next == npos)
            break;
        lf = next;
    }
    // Lines at the end that hold no dose text are no records.
    while (!records.empty() && records.back().doseText.length == 0)
        records.pop_back();
}

// Every line from neutronStart on that holds two TABs; shorter tails (under five
// characters) end the section, lines with fewer TABs are passed over.
void ReadNeutronRecords(std::string_view text, std::size_t neutronStart,
                        std::vector<NeutronDoseRecord>& records) {
    records.reserve(LineFeedsIn(text, neutronStart, text.size()) + 1);
    std::size_t pos = neutronStart;
    while (HasAtLeastChars(text, pos, 5)) {
        const std::size_t lf = FindLf(text, pos);
        const std::size_t lineEnd = lf == npos ? text.size() : lf;
        const std::size_t tab1 = FindIn(text, '\t', pos, lineEnd);
        const std::size_t tab2 = tab1 == npos ? npos : FindIn(text, '\t', tab1 + 1, lineEnd);
        if (tab2 != npos) {
            const Span dose{pos, tab1}, coefficient{tab1 + 1, tab2};
            Span time = LineContent(text, tab2 + 1, lf);
            DropFirstChar(text, time);
            records.push_back({LeadingInteger(Slice(text, time)), 0.0, 0.0, ToTextSpan(dose),
                               ToTextSpan(coefficient), ToTextSpan(time)});
        }
        if (lf == npos)
            break;
        pos = lf + 1;
    }
}

void ReadLayoutA(std::string_view text, double historyInterval, std::vector<GammaDoseRecord>& gamma,
                 std::vector<NeutronDoseRecord>& neutron) {
    const std::size_t firstTab = text.find('\t');
    const std::size_t lfBeforeTab = text.rfind('\n', firstTab);
    // A TAB already in the first line: no heading, no gamma lines.
    const std::size_t neutronStart = lfBeforeTab == npos ? 0 : lfBeforeTab + 1;
    const std::size_t firstLf = text.find('\n');
    if (neutronStart > 0 && firstLf < neutronStart - 1)
        ReadGammaRecordsA(text, firstLf, neutronStart, historyInterval, gamma);
    ReadNeutronRecords(text, neutronStart, neutron);
}

// ---- layout B ----------------------------------------------------------------------

// Every line after the four heading lines is a record, a last line without a line end
// included; nothing after a final LF is.
void ReadLayoutB(std::string_view text, double historyInterval, std::vector<GammaDoseRecord>& gamma) {
    std::size_t lf = npos;
    for (int k = 0; k < 4; ++k) {
        lf = FindLf(text, lf == npos ? 0 : lf + 1);
        if (lf == npos)
            return;
    }
    gamma.reserve(LineFeedsIn(text, lf + 1, text.size()) + 1);
    for (long long record = 1; lf + 1 < text.size(); ++record) {
        const std::size_t next = FindLf(text, lf + 1);
        const Span s = LineContent(text, lf + 1, next);
        gamma.push_back({GammaRecordSeconds(record, historyInterval), 0.0, ToTextSpan(s)});
        if (next == npos)
            break;
        lf = next;
    }
}

} // namespace

long long GammaRecordSeconds(long long record, double historyInterval) {
    const double seconds = static_cast<double>(record) * historyInterval;
    if (std::isnan(seconds))
        return 0;
    constexpr double kLimit = 9.2e18; // inside the range of long long
    if (seconds >= kLimit)
        return std::numeric_limits<long long>::max();
    if (seconds <= -kLimit)
        return std::numeric_limits<long long>::min();
    return static_cast<long long>(seconds); // truncates toward zero
}

DoseArchive ParseDoseArchive(std::string text, double historyInterval) {
    if (text.size() > kMaxArchiveTextBytes)
        throw std::length_error("archive reply of " + std::to_string(text.size()) +
                                " bytes is too large to read");
    DoseArchive archive;
    archive.text_ = std::move(text);
    const std::string_view view = archive.text_;
    if (view.find('\t') != npos) {
        archive.layout_ = ArchiveLayout::A;
        ReadLayoutA(view, historyInterval, archive.gamma_, archive.neutron_);
    } else {
        archive.layout_ = ArchiveLayout::B;
        ReadLayoutB(view, historyInterval, archive.gamma_);
    }
    ReadValues(view, archive.gamma_, archive.neutron_);
    return archive;
}

} // namespace dm
