#include "history/archive_parse.h"

#include "core/cp1251.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/string_table.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dm {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// A span [begin, end) of the reply text.
struct Span {
    std::size_t begin;
    std::size_t end;
};

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
    for (int k = 0; k < n; ++k) {
        if (pos >= text.size())
            return false;
        pos += CharLength(text, pos);
    }
    return true;
}

std::size_t CountLineFeeds(std::string_view text, std::size_t begin, std::size_t end) {
    std::size_t n = 0;
    for (std::size_t p = text.find('\n', begin); p != npos && p < end; p = text.find('\n', p + 1))
        ++n;
    return n;
}

int ClampRows(std::size_t rows) {
    constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return static_cast<int>(rows > kMax ? kMax : rows);
}

// The shown dose of a dose text. An archive holds accumulated doses written with few
// digits, so a record mostly repeats the text of the one before; that text is read and
// formatted once.
class DoseShower {
public:
    explicit DoseShower(int langBase) : langBase_(langBase) {}
    const std::string& operator()(std::string_view doseText) {
        if (!valid_ || doseText != lastText_) {
            lastShown_ = FormatDose(ParseDeviceNumber(doseText), langBase_);
            lastText_ = doseText;
            valid_ = true;
        }
        return lastShown_;
    }

private:
    int langBase_;
    bool valid_ = false;
    std::string_view lastText_;
    std::string lastShown_;
};

// ---- layout A ----------------------------------------------------------------------

void SetUpDoseTableA(HistoryTable& dose, int rows, int langBase) {
    dose.clear();
    dose.setRowCount(rows);
    dose.setColCount(4);
    dose.setText(0, 0, Tr(IDS_HASH, langBase));
    dose.setText(0, 2, Tr(IDS_DOSE_VALUE_A, langBase));
    dose.setText(0, 3, Tr(IDS_TIME, langBase));
    const int widths[] = {400, 0, 3000, 1000};
    for (int c = 0; c < 4; ++c)
        dose.setColWidth(c, widths[c]);
}

// Gamma lines run from after the first LF up to and including the LF that ends the line
// before the first neutron line (neutronStart). firstLf < neutronStart here.
void FillGammaRecords(std::string_view text, std::size_t firstLf, std::size_t neutronStart,
                      double historyInterval, int langBase, HistoryTable& dose) {
    const std::size_t lastGammaLf = neutronStart - 1;
    DoseShower shown(langBase);
    std::size_t lf = firstLf;
    int record = 0;
    while (lf < lastGammaLf) {
        ++record;
        if (!HasAtLeastChars(text, lf + 1, 4))
            break;
        const std::size_t next = text.find('\n', lf + 1);
        Span s = LineContent(text, lf + 1, next);
        if (record == 1)
            DropFirstChar(text, s);
        const std::string_view doseText = Slice(text, s);
        if (doseText.find("Result") != npos)
            break;
        dose.setText(record, 1, std::string(doseText));
        dose.setText(record, 2, shown(doseText));
        dose.setText(record, 0, std::to_string(record));
        dose.setText(record, 3, FormatDuration(GammaRecordSeconds(record, historyInterval)));
        if (next == npos)
            break;
        lf = next;
    }
}

// Drops the rows at the end whose dose text (column 1) is empty: lines sized in but never
// filled, such as a "Result" line and what follows it.
void TrimEmptyTail(HistoryTable& dose) {
    for (int row = dose.rowCount() - 1; row >= 1; --row) {
        if (!dose.text(row, 1).empty())
            break;
        dose.setRowCount(row);
    }
}

struct NeutronLine {
    Span dose;
    Span coefficient;
    Span time;
};

// Every line from neutronStart on that holds two TABs; shorter tails (under five
// characters) end the section, lines with fewer TABs are passed over.
std::vector<NeutronLine> ScanNeutronLines(std::string_view text, std::size_t neutronStart) {
    std::vector<NeutronLine> lines;
    lines.reserve(CountLineFeeds(text, neutronStart, text.size()) + 1);
    std::size_t pos = neutronStart;
    while (HasAtLeastChars(text, pos, 5)) {
        const std::size_t lf = text.find('\n', pos);
        const std::size_t lineEnd = lf == npos ? text.size() : lf;
        const std::size_t tab1 = text.find('\t', pos);
        const std::size_t tab2 = tab1 < lineEnd ? text.find('\t', tab1 + 1) : npos;
        if (tab2 < lineEnd) {
            NeutronLine line{{pos, tab1}, {tab1 + 1, tab2}, LineContent(text, tab2 + 1, lf)};
            DropFirstChar(text, line.time);
            lines.push_back(line);
        }
        if (lf == npos)
            break;
        pos = lf + 1;
    }
    return lines;
}

void FillNeutronTable(std::string_view text, std::size_t neutronStart, int langBase,
                      HistoryTable& neutron) {
    const std::vector<NeutronLine> lines = ScanNeutronLines(text, neutronStart);
    neutron.clear();
    neutron.setRowCount(ClampRows(lines.size() + 1));
    neutron.setColCount(6);
    neutron.setText(0, 0, Tr(IDS_HASH, langBase));
    neutron.setText(0, 2, Tr(IDS_NEUTRON_DOSE_VALUE, langBase));
    neutron.setText(0, 3, Tr(IDS_SPECTRUM_COEFF, langBase));
    neutron.setText(0, 5, Tr(IDS_TIME, langBase));
    const int widths[] = {520, 0, 2700, 2200, 0, 1000};
    for (int c = 0; c < 6; ++c)
        neutron.setColWidth(c, widths[c]);

    DoseShower shown(langBase);
    const int rows = neutron.rowCount();
    for (int record = 1; record < rows; ++record) {
        const NeutronLine& line = lines[static_cast<std::size_t>(record - 1)];
        const std::string_view doseText = Slice(text, line.dose);
        const std::string_view timeText = Slice(text, line.time);
        neutron.setText(record, 0, std::to_string(record));
        neutron.setText(record, 1, std::string(doseText));
        neutron.setText(record, 2, shown(doseText));
        neutron.setText(record, 3, std::string(Slice(text, line.coefficient)));
        neutron.setText(record, 4, std::string(timeText));
        neutron.setText(record, 5, FormatDuration(CLong(timeText)));
    }
}

void ParseLayoutA(std::string_view text, double historyInterval, int langBase,
                  HistoryTable& dose, HistoryTable& neutron) {
    const std::size_t firstTab = text.find('\t');
    const std::size_t lfBeforeTab = text.rfind('\n', firstTab);
    // A TAB already in the first line: no heading, no gamma lines.
    const std::size_t neutronStart = lfBeforeTab == npos ? 0 : lfBeforeTab + 1;
    const std::size_t firstLf = text.find('\n');
    const bool hasGamma = neutronStart > 0 && firstLf < neutronStart - 1;
    const std::size_t gammaLines = hasGamma ? CountLineFeeds(text, firstLf + 1, neutronStart) : 0;

    SetUpDoseTableA(dose, ClampRows(gammaLines + 1), langBase);
    if (hasGamma)
        FillGammaRecords(text, firstLf, neutronStart, historyInterval, langBase, dose);
    TrimEmptyTail(dose);
    FillNeutronTable(text, neutronStart, langBase, neutron);
}

// ---- layout B ----------------------------------------------------------------------

void ParseLayoutB(std::string_view text, int langBase, HistoryTable& dose) {
    // A last line without a line end counts; nothing after a final LF does.
    std::size_t lines = CountLineFeeds(text, 0, text.size());
    if (!text.empty() && text.back() != '\n')
        ++lines;
    const int rows = lines > 4 ? ClampRows(lines - 3) : 1; // fewer lines: the headings alone

    dose.clear();
    dose.setRowCount(rows);
    dose.setColCount(2);
    dose.setText(0, 0, Tr(IDS_HASH, langBase));
    dose.setText(0, 1, Tr(IDS_DOSE_VALUE, langBase));
    dose.setColWidth(0, 520);
    dose.setColWidth(1, 2500);

    // The LF that ends heading line 3.
    std::size_t lf = npos;
    for (int k = 0; k < 4; ++k) {
        lf = text.find('\n', lf == npos ? 0 : lf + 1);
        if (lf == npos)
            return;
    }
    for (int record = 1; record < rows && lf + 1 < text.size(); ++record) {
        const std::size_t next = text.find('\n', lf + 1);
        dose.setText(record, 0, std::to_string(record));
        dose.setText(record, 1, std::string(Slice(text, LineContent(text, lf + 1, next))));
        if (next == npos)
            break;
        lf = next;
    }
}

} // namespace

long long GammaRecordSeconds(int record, double historyInterval) {
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

ArchiveParseResult ParseArchiveReply(std::string_view text, double historyInterval, int langBase,
                                     HistoryTable& dose, HistoryTable& neutron) {
    ArchiveParseResult result;
    result.neutron = text.find('\t') != npos;
    if (result.neutron) {
        result.layout = 'A';
        result.tabLabels = {Tr(IDS_DOSE_HISTORY_A, langBase), Tr(IDS_NEUTRON_HISTORY, langBase)};
        ParseLayoutA(text, historyInterval, langBase, dose, neutron);
    } else {
        result.layout = 'B';
        result.tabLabels = {Tr(IDS_DOSE_HISTORY_B, langBase)};
        ParseLayoutB(text, langBase, dose);
    }
    return result;
}

} // namespace dm
