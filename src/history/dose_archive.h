#pragma once
// The dose history read out of a dosimeter: typed gamma and neutron records over the
// archive reply's text, which the archive owns. The texts as received stay spans of that
// text (saved tables repeat them byte for byte); shown values are formatted when asked.
//
// The reply comes in two layouts, told apart by a TAB anywhere in the text:
//   A (KRT-17A): a heading line, gamma dose lines, then neutron lines with TABs;
//   B (MLV-52B): four heading lines, then gamma dose lines, no times.
#include "core/model.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// A stretch of the archive's text: offsets keep a record small and stay valid when the
// archive is moved.
struct TextSpan {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

struct GammaDoseRecord {
    long long seconds = 0; // record number x history interval (layout B beams no times)
    double sv = 0.0;       // the dose as the dosimeter writes numbers; 0 for unreadable text,
                           // infinite for an absurd exponent
    TextSpan doseText;     // as received
};

struct NeutronDoseRecord {
    long long seconds = 0;    // the time the dosimeter wrote, in whole seconds
    double sv = 0.0;          // as for GammaDoseRecord
    double coefficient = 0.0; // fast/thermal spectrum estimation coefficient
    TextSpan doseText;        // as received
    TextSpan coefficientText;
    TextSpan timeText;
};

enum class ArchiveLayout : char {
    None, // nothing read yet
    A,    // with a neutron section (the model has a neutron channel)
    B,    // gamma only
};

class DoseArchive {
public:
    DoseArchive() = default;

    ArchiveLayout layout() const { return layout_; }
    // The reply held a TAB: a KRT-17A's, with a neutron section.
    Model model() const { return layout_ == ArchiveLayout::A ? Model::Krt17a : Model::Mlv52b; }
    bool empty() const { return layout_ == ArchiveLayout::None; }

    const std::vector<GammaDoseRecord>& gamma() const { return gamma_; }
    const std::vector<NeutronDoseRecord>& neutron() const { return neutron_; }

    // The text of a span of this archive's reply.
    std::string_view text(TextSpan span) const {
        return std::string_view(text_).substr(span.offset, span.length);
    }
    const std::string& replyText() const { return text_; }

private:
    friend DoseArchive ParseDoseArchive(std::string text, double historyInterval);

    ArchiveLayout layout_ = ArchiveLayout::None;
    std::string text_;
    std::vector<GammaDoseRecord> gamma_;
    std::vector<NeutronDoseRecord> neutron_;
};

// Spans are 32-bit: a reply text must stay below 4 GiB (replies are far smaller).
inline constexpr std::size_t kMaxArchiveTextBytes = std::numeric_limits<std::uint32_t>::max();

// text: the reply as picked up (UTF-8, each beamed line end turned into CR CR LF).
// historyInterval: seconds between two gamma records (the "history_time" parameter).
// Never fails on content: malformed lines are read as far as they go, and scans stop at the
// end of the text. A text longer than kMaxArchiveTextBytes throws std::length_error.
DoseArchive ParseDoseArchive(std::string text, double historyInterval);

// Seconds of gamma record `record`: record x interval, truncated toward zero (NaN gives 0,
// values beyond the range of long long saturate).
long long GammaRecordSeconds(long long record, double historyInterval);

} // namespace dm
