#include "charts/chart_model.h"

#include "core/cp1251.h"
#include "core/format.h"
#include "core/string_table.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

namespace dm {
namespace {

// The chart measures its labels in characters.
int Chars(std::string_view text) { return static_cast<int>(Utf8Length(text)); }

constexpr Rgb kFace{236, 233, 216};
constexpr Rgb kAxis{10, 10, 10};
constexpr Rgb kAxisShadow{170, 170, 170};
constexpr Rgb kDoseColour{0, 100, 0};
constexpr Rgb kNeutronLineColour{0, 0, 255};
constexpr Rgb kNeutronBarColour{90, 90, 255};
constexpr Rgb kTimeLabelBack{240, 240, 240};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kReadoutBack{255, 255, 175};

// Pixel coordinates truncate toward zero. Values far outside any screen (huge doses,
// times or zooms) are held at a large bound, and a value that is not a number counts as
// 0, so no conversion overflows.
int Px(double v) {
    constexpr double kBound = 1e8;
    if (std::isnan(v))
        return 0;
    if (v > kBound)
        return static_cast<int>(kBound);
    if (v < -kBound)
        return static_cast<int>(-kBound);
    return static_cast<int>(v);
}

// Whole seconds for the time axis, kept inside int.
int WholeSeconds(double v) {
    if (!(v > 0.0))
        return 0;
    if (v >= 2e9)
        return 2000000000;
    return static_cast<int>(v);
}

double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

std::uint8_t Component(int v) { return static_cast<std::uint8_t>(((v % 256) + 256) % 256); }

// Draws nothing: for working out the column table without a picture.
class NoCanvas : public ChartCanvas {
public:
    void fill(int, int, int, int, Rgb) override {}
    void line(int, int, int, int, int, Rgb) override {}
    void polyline(const std::vector<ChartPoint>&, int, Rgb) override {}
    void box(int, int, int, int, Rgb, Rgb) override {}
    void text(int, int, const std::string&, Rgb) override {}
};

ChartRect Union(const ChartRect& a, const ChartRect& b) {
    if (a.none())
        return b;
    if (b.none())
        return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

std::string ReadoutLine(int labelId, Language language, const std::string& value) {
    return Tr(labelId, language) + ": " + value + "\n";
}

// Adds a point to a line, dropping points that add no pixels: a repeat of the last point,
// or a last point that lies between its neighbours on one vertical or horizontal run
// (thousands of records share a few hundred columns).
void AppendPoint(std::vector<ChartPoint>& line, ChartPoint p) {
    if (!line.empty() && line.back() == p)
        return;
    if (line.size() >= 2) {
        const ChartPoint a = line[line.size() - 2], b = line.back();
        const bool vertical = a.x == b.x && b.x == p.x && (b.y - a.y) * (p.y - b.y) >= 0;
        const bool horizontal = a.y == b.y && b.y == p.y && (b.x - a.x) * (p.x - b.x) >= 0;
        if (vertical || horizontal) {
            line.back() = p;
            return;
        }
    }
    line.push_back(p);
}

constexpr int kValueLabelRoom = kPlotLeft - 9; // value labels end 9 pixels left of the axis

// A value label in exponent form with three significant digits, cut (not rounded) as the
// other labels are, so it never reads more: "1.50E-10 Sv", 11 characters (12 from
// 1E+100 Sv on) whatever the value; neighbouring labels, a twentieth of the top apart,
// never read alike.
std::string ExponentTick(double sv, Language language) {
    if (!(sv > 0.0) || !std::isfinite(sv))
        return FormatDoseChart(sv, language);
    int exponent = static_cast<int>(std::floor(std::log10(sv)));
    double mantissa = sv / std::pow(10.0, exponent);
    if (mantissa >= 10.0) { // log10 a hair low
        mantissa /= 10.0;
        ++exponent;
    } else if (mantissa < 1.0) {
        mantissa *= 10.0;
        --exponent;
    }
    double cut = std::floor(mantissa * 100.0 * (1 + 1e-12)) / 100.0;
    if (cut >= 10.0) {
        cut = 1.0;
        ++exponent;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.2fE%+03d", cut, exponent);
    return std::string(buf) + " " + Tr(IDS_UNIT_SV, language);
}

} // namespace

int ScrollBarState::maxPos() const {
    const int top = page > 0 ? max - page + 1 : max;
    return std::max(min, top);
}

void ScrollBarState::setPos(int position) { pos = std::clamp(position, min, maxPos()); }

ChartModel::ChartModel(Language language)
    : language_(language), doses_(kChartRecords, 0.0), neutron_(kChartRecords), columns_(kChartColumns),
      increments_(kChartRecords) {
    polyline_.reserve(kChartRecords * 2 + 4);
}

void ChartModel::setClientSize(int width, int height) {
    width = std::max(0, width);
    height = std::max(0, height);
    if (width == width_ && height == height_)
        return; // the view asks at every paint; the same size changes nothing
    width_ = width;
    height_ = height;
    ensureColumns(width_);
    // The scroll range follows the plot's width at the zoom in use; a drawing that
    // follows the scroll bar stays inside the range.
    const bool following = offset_ == scroll_.pos;
    scroll_.page = std::max(0, width_ - kPlotLeft);
    scroll_.max = std::max(scroll_.page, Px((width_ - kPlotLeft) * zoom_));
    scroll_.setPos(scroll_.pos);
    if (following)
        offset_ = scroll_.pos;
    computeScales();
    columnsStale_ = true;
}

void ChartModel::setHistory(const ChartHistory& history) {
    model_ = history.model;
    step_ = history.step;
    depth_ = history.depth;
    const auto doses = std::min(history.doses.size(), doses_.size());
    std::copy_n(history.doses.begin(), doses, doses_.begin());
    std::fill(doses_.begin() + static_cast<std::ptrdiff_t>(doses), doses_.end(), 0.0);
    const auto neutron = std::min(history.neutron.size(), neutron_.size());
    std::copy_n(history.neutron.begin(), neutron, neutron_.begin());
    std::fill(neutron_.begin() + static_cast<std::ptrdiff_t>(neutron), neutron_.end(), NeutronPoint{});
    computeIncrements();
    computeStatistics();
    computeScales();
    scrollReset(); // a new history is shown from its start
}

void ChartModel::setDiagram(ChartDiagram diagram, bool neutronShown) {
    diagram_ = diagram;
    neutronShown_ = neutronShown;
    computeScales();
    columnsStale_ = true;
}

void ChartModel::setZoom(double zoom) {
    zoom_ = zoom;
    computeScales();
    columnsStale_ = true;
}

void ChartModel::setOffset(int pixels) {
    offset_ = pixels;
    columnsStale_ = true;
}

// The column table covers at least 2000 columns and grows to a wider control, so no
// column of the control is left without a record.
void ChartModel::ensureColumns(int width) {
    if (static_cast<int>(columns_.size()) < width)
        columns_.resize(static_cast<std::size_t>(width));
}

int ChartModel::yOf(double value) const {
    return (height_ - kPlotBottomMargin) - Px(value * yscale_);
}

// ---- prepared data -------------------------------------------------------------------

void ChartModel::computeIncrements() {
    if (!(step_ > 0.0)) {
        // A history without a recording interval has no increments.
        std::fill(increments_.begin(), increments_.end(), ChartIncrement{});
        return;
    }
    for (int i = 0; i < kChartRecords; ++i) {
        ChartIncrement& inc = increments_[static_cast<std::size_t>(i)];
        const double dose = Finite(doses_[static_cast<std::size_t>(i)]);
        const double neutron = Finite(neutron_[static_cast<std::size_t>(i)].value);
        if (i == 0) {
            inc.doseInc = dose;
            inc.neutronInc = neutron;
        } else {
            const double dd = dose - Finite(doses_[static_cast<std::size_t>(i - 1)]);
            const double dn = neutron - Finite(neutron_[static_cast<std::size_t>(i - 1)].value);
            inc.doseInc = dd > 0.0 ? dd : 0.0;
            inc.neutronInc = dn > 0.0 ? dn : 0.0;
        }
        inc.neutronTime = Finite(neutron_[static_cast<std::size_t>(i)].time);
    }
}

// Every record takes part, the last two of a full history included.
void ChartModel::computeStatistics() {
    stats_ = {};
    double neutronTimeMax = 0.0;
    for (int i = 0; i < kChartRecords; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double dose = Finite(doses_[k]);
        stats_.doseMax = std::max(stats_.doseMax, dose);
        stats_.doseIncMax = std::max(stats_.doseIncMax, increments_[k].doseInc);
        stats_.neutronMax = std::max(stats_.neutronMax, Finite(neutron_[k].value));
        stats_.neutronIncMax = std::max(stats_.neutronIncMax, increments_[k].neutronInc);
        neutronTimeMax = std::max(neutronTimeMax, Finite(neutron_[k].time));
        if (dose != 0.0)
            stats_.lastDoseIndex = i;
    }
    stats_.neutronTimeMax = WholeSeconds(neutronTimeMax);
    stats_.doseSpan = stats_.lastDoseIndex == 0
                          ? WholeSeconds(step_ * depth_)
                          : WholeSeconds((stats_.lastDoseIndex + 1) * step_);
}

int ChartModel::neutronCount() const {
    int n = 0;
    while (n < kChartRecords && neutron_[static_cast<std::size_t>(n)].time != 0.0)
        ++n;
    return n;
}

// Both diagrams stretch the value axis to their largest value and the time axis to the
// dose span, and to the neutron data too when that is shown.
void ChartModel::computeScales() {
    yMax_ = 0.0;
    xRange_ = 0;
    if (diagram_ == ChartDiagram::Increments)
        widenRanges(stats_.doseIncMax, stats_.neutronIncMax, neutronShown_);
    else
        widenRanges(stats_.doseMax, stats_.neutronMax, neutronShown_);
    xscale_ = xRange_ > 0 ? (width_ - kPlotLeft) * zoom_ / xRange_ : 0.0;
    yscale_ = yMax_ > 0.0 ? (height_ - 60) / yMax_ : 0.0;
}

void ChartModel::widenRanges(double doseTop, double neutronTop, bool neutron) {
    yMax_ = std::max(doseTop, yMax_);
    xRange_ = std::max(stats_.doseSpan, xRange_);
    if (neutron) {
        yMax_ = std::max(neutronTop, yMax_);
        xRange_ = std::max(stats_.neutronTimeMax, xRange_);
    }
}

// ---- paint ---------------------------------------------------------------------------

void ChartModel::paintChart(ChartCanvas& canvas) {
    const int W = width_, H = height_;
    ensureColumns(W);

    canvas.fill(0, 0, W, H, kFace);
    // Background gradient from light blue at the top to white at the bottom, in bands of
    // five pixel rows.
    for (int y = 0; y < H; y += 5) {
        const Rgb band{static_cast<std::uint8_t>(100 + y * 155 / H),
                       static_cast<std::uint8_t>(170 + y * 85 / H), 255};
        canvas.line(-5, y, W, y, 5, band);
    }
    const int axisY = H - kPlotBottomMargin;
    canvas.line(kPlotLeft, axisY, kPlotLeft, 0, 1, kAxis);
    canvas.line(kPlotLeft, axisY, W, axisY, 1, kAxis);
    canvas.line(kPlotLeft - 1, axisY, kPlotLeft - 1, 0, 1, kAxisShadow);
    canvas.line(kPlotLeft, axisY + 1, W, axisY + 1, 1, kAxisShadow);

    if (diagram_ == ChartDiagram::Increments) {
        paintValueLabels(canvas);
        paintDoseBars(canvas);
        if (neutronShown_)
            paintNeutronBars(canvas);
    } else {
        paintValueLabels(canvas);
        paintDoseLine(canvas);
        if (neutronShown_)
            paintNeutronLine(canvas);
    }
    paintTimeLabels(canvas);
    columnsStale_ = false;
    // A box on screen shows the diagram now drawn, never the values of the one before a
    // switch of diagram, component or scale.
    if (!readoutRect_.none() && readoutX_ < static_cast<int>(columns_.size()))
        placeReadout(readoutX_, readoutY_, readoutTextAt(readoutX_));
}

void ChartModel::paintValueLabels(ChartCanvas& canvas) {
    const int W = width_, H = height_;
    if (H == 0)
        return;
    const double yMax = yMax_ > 0.0 ? yMax_ : 1.0;
    const double p = (H - 60) / 20.0;
    std::array<std::string, 20> labels;
    // Measured as drawn where the canvas can: a letter of another script (the Russian
    // unit) need not be as wide as a digit when the font lacks it and another stands in.
    auto widthOf = [&](const std::string& label) {
        const int measured = canvas.textWidth(label);
        return measured >= 0 ? measured : charWidth_ * Chars(label);
    };
    bool fit = true;
    for (int i = 1; i <= 20; ++i) {
        labels[static_cast<std::size_t>(i - 1)] = FormatDoseTick(i * (yMax / 20.0), yMax / 20.0, language_);
        fit = fit && widthOf(labels[static_cast<std::size_t>(i - 1)]) <= kValueLabelRoom;
    }
    // Labels wider than the room left of the axis (tiny or huge doses) would lose their
    // leading digits at the control's edge: the whole axis then reads in exponent form.
    if (!fit) {
        for (int i = 1; i <= 20; ++i)
            labels[static_cast<std::size_t>(i - 1)] = ExponentTick(i * (yMax / 20.0), language_);
    }
    for (int i = 1; i <= 20; ++i) {
        const std::string& label = labels[static_cast<std::size_t>(i - 1)];
        // Right-aligned to end 9 pixels left of the value axis; never left of the control.
        const int x = std::max(0, kValueLabelRoom - widthOf(label));
        const int y = Px((H - kPlotBottomMargin) - i * p - 6);
        const int r = Px(255 - i * p * 155 / H), g = Px(255 - i * p * 85 / H);
        canvas.text(x, y, label, Rgb{Component(r - 8), Component(g - 8), 247});
        canvas.line(kPlotLeft, y + 8, W, y + 8, 1, Rgb{Component(r - 30), Component(g - 30), 225});
    }
}

void ChartModel::paintDoseLine(ChartCanvas& canvas) {
    if (yMax_ == 0.0 || xRange_ == 0)
        return;
    const int W = width_, H = height_;
    const int cols = static_cast<int>(columns_.size());

    polyline_.clear();
    polyline_.push_back({kPlotLeft, H - kPlotBottomMargin});
    // A point scrolled off to the left: the line enters the plot at its height on the way
    // to the first visible point instead of rising from the origin.
    bool hiddenBefore = false;
    ChartPoint hidden;
    int last = 0;
    int i = 0;
    for (; i < kChartRecords; ++i) {
        const int x = Px((i + 1) * step_ * xscale_) + kPlotLeft - offset_;
        const bool beyond = x > W;
        if (!beyond && x >= 0 && x < cols) {
            const double value = i == 0 ? 0.0 : doses_[static_cast<std::size_t>(i - 1)];
            const double time = i == 0 ? 0.0 : i * step_;
            for (int c = (i == 0 ? 0 : last); c <= x; ++c) {
                columns_[static_cast<std::size_t>(c)].dose = value;
                columns_[static_cast<std::size_t>(c)].doseTime = time;
            }
            last = x;
        }
        if (i > stats_.lastDoseIndex) {
            if (beyond)
                break;
            continue;
        }
        const int y = yOf(doses_[static_cast<std::size_t>(i)]);
        if (x > kPlotLeft) {
            if (hiddenBefore && polyline_.size() == 1 && offset_ > 0) {
                const double t = double(kPlotLeft - hidden.x) / double(x - hidden.x);
                polyline_[0] = {kPlotLeft, Px(hidden.y + (y - hidden.y) * t)};
            }
            if (beyond) {
                // The first point past the right edge: the line runs on to the edge at
                // its height there, as the neutron line does, instead of stopping at the
                // last point inside (far from the edge at high scales).
                const ChartPoint from = polyline_.back();
                const double t = double(W - from.x) / double(x - from.x);
                AppendPoint(polyline_, {W, Px(from.y + (y - from.y) * t)});
                break;
            }
            AppendPoint(polyline_, {x, y});
        } else {
            hiddenBefore = true;
            hidden = {x, y};
        }
        if (beyond)
            break;
    }
    for (int c = last + 1; c < cols; ++c) {
        columns_[static_cast<std::size_t>(c)].dose = -1.0;
        columns_[static_cast<std::size_t>(c)].doseTime = i * step_;
    }
    if (polyline_.size() > 1)
        canvas.polyline(polyline_, 2, kDoseColour);
}

void ChartModel::paintNeutronLine(ChartCanvas& canvas) {
    if (yMax_ == 0.0 || xRange_ == 0)
        return;
    const int W = width_, H = height_;
    const int cols = static_cast<int>(columns_.size());

    polyline_.clear();
    ChartPoint prev{kPlotLeft, H - kPlotBottomMargin};
    polyline_.push_back(prev);
    int last = 0;
    for (int i = 0; i < kChartRecords; ++i) {
        const NeutronPoint& rec = neutron_[static_cast<std::size_t>(i)];
        if (rec.time == 0.0) {
            // End of the list: the last level is carried to the end of the time axis.
            prev = {Px(xRange_ * xscale_ + kPlotLeft - offset_), prev.y};
            AppendPoint(polyline_, prev);
            break;
        }
        const int x = Px(rec.time * xscale_ + kPlotLeft - offset_);
        const int y = yOf(rec.value);
        if (x >= 0 && x < cols) {
            const NeutronPoint before =
                i == 0 ? NeutronPoint{} : neutron_[static_cast<std::size_t>(i - 1)];
            for (int c = last; c < x; ++c) {
                columns_[static_cast<std::size_t>(c)].neutron = before.value;
                columns_[static_cast<std::size_t>(c)].neutronTime = before.time;
            }
            columns_[static_cast<std::size_t>(x)].neutron = rec.value;
            columns_[static_cast<std::size_t>(x)].neutronTime = rec.time;
            last = x;
        }
        if (prev.x > W)
            break;
        if (x < kPlotLeft) {
            if (polyline_.size() > 1)
                canvas.polyline(polyline_, 2, kNeutronLineColour);
            polyline_.clear();
            prev = {kPlotLeft, y};
            polyline_.push_back(prev);
        } else {
            AppendPoint(polyline_, {x, prev.y});
            AppendPoint(polyline_, {x, y});
            prev = {x, y};
        }
    }
    for (int c = last + 1; c < cols; ++c) {
        columns_[static_cast<std::size_t>(c)].neutron = -1.0;
        columns_[static_cast<std::size_t>(c)].neutronTime = -1.0;
    }
    if (polyline_.size() > 1)
        canvas.polyline(polyline_, 2, kNeutronLineColour);
}

namespace {

// Bars of one colour all stand on the axis, so together they cover, in each column, the
// span from the tallest bar there down to the axis. Collecting those tops and filling
// runs of equal height writes every pixel once, however many of the thousands of bars
// overlap in a few hundred columns.
class BarBatch {
public:
    BarBatch(ChartCanvas& canvas, std::vector<int>& tops, int width, int bottom, Rgb colour)
        : canvas_(canvas), tops_(tops), width_(width), bottom_(bottom), colour_(colour) {
        tops_.assign(static_cast<std::size_t>(std::max(0, width_)), kNone);
    }
    // The covered area is cut into rectangles as wide as possible (a stack over the column
    // heights), so long rows are filled in one go and no pixel is filled twice.
    ~BarBatch() {
        struct Open {
            int start, height;
        };
        std::vector<Open> stack;
        stack.reserve(64);
        for (int c = 0; c <= width_; ++c) {
            int h = 0;
            if (c < width_ && tops_[static_cast<std::size_t>(c)] != kNone)
                h = std::max(0, bottom_ - tops_[static_cast<std::size_t>(c)]);
            int start = c;
            while (!stack.empty() && stack.back().height > h) {
                const Open open = stack.back();
                stack.pop_back();
                const int below = std::max(h, stack.empty() ? 0 : stack.back().height);
                canvas_.fill(open.start, bottom_ - open.height, c, bottom_ - below, colour_);
                start = open.start;
            }
            if (h > 0 && (stack.empty() || stack.back().height < h))
                stack.push_back({start, h});
        }
    }
    // A bar from column x, four columns wide, up to row top.
    void add(int x, int top) {
        for (int c = std::max(0, x); c < std::min(width_, x + 4); ++c)
            tops_[static_cast<std::size_t>(c)] = std::min(tops_[static_cast<std::size_t>(c)], top);
    }

private:
    static constexpr int kNone = std::numeric_limits<int>::max();
    ChartCanvas& canvas_;
    std::vector<int>& tops_;
    int width_;
    int bottom_;
    Rgb colour_;
};

} // namespace

namespace {

// Records the bars in the column table. Bar by bar, a bar at column x gives the columns
// from the last recorded one to x its time, and its own columns the larger increment
// and its time. Consecutive bars at the same x are written once, leaving what they would
// have left one after the other: the first one's time up to x, the largest increment and
// the last one's time in the bar's columns.
class BarColumns {
public:
    // claimed: columns a bar takes; fromLastColumn: the next bar's time starts after the
    // bar's last column (neutron bars) rather than at its first (dose bars).
    BarColumns(std::vector<ChartColumn>& columns, double ChartColumn::*inc, double ChartColumn::*time, int claimed,
               bool fromLastColumn)
        : columns_(columns), inc_(inc), time_(time), claimed_(claimed), fromLastColumn_(fromLastColumn) {}
    ~BarColumns() { flush(); }
    void add(int x, double inc, double time) {
        if (open_ && x == x_) {
            maxInc_ = std::max(maxInc_, inc);
            lastTime_ = time;
            return;
        }
        flush();
        open_ = true;
        x_ = x;
        maxInc_ = inc;
        firstTime_ = lastTime_ = time;
    }

private:
    void flush() {
        if (!open_)
            return;
        for (int c = last_; c <= x_; ++c)
            columns_[static_cast<std::size_t>(c)].*time_ = firstTime_;
        for (int c = x_; c < x_ + claimed_; ++c) {
            ChartColumn& col = columns_[static_cast<std::size_t>(c)];
            col.*inc_ = std::max(col.*inc_, maxInc_);
            col.*time_ = lastTime_;
        }
        last_ = fromLastColumn_ ? x_ + claimed_ - 1 : x_;
        open_ = false;
    }

    std::vector<ChartColumn>& columns_;
    double ChartColumn::*inc_;
    double ChartColumn::*time_;
    int claimed_;
    bool fromLastColumn_;
    int last_ = 0;
    bool open_ = false;
    int x_ = 0;
    double maxInc_ = 0.0, firstTime_ = 0.0, lastTime_ = 0.0;
};

} // namespace

void ChartModel::paintDoseBars(ChartCanvas& canvas) {
    for (ChartColumn& c : columns_) {
        c.doseInc = -1.0;
        c.doseTime = -1.0;
    }
    if (yMax_ == 0.0 || xRange_ == 0)
        return;
    const int W = width_, H = height_;
    const int cols = static_cast<int>(columns_.size());
    const double xscale4 = (W - kPlotLeft) * zoom_ / (4.0 * xRange_);

    BarBatch bars(canvas, barTops_, W, H - 39, kDoseColour);
    BarColumns record(columns_, &ChartColumn::doseInc, &ChartColumn::doseTime, 4, false);
    for (int i = 0; i < kChartRecords; ++i) {
        const int x = Px((4.0 * i + 4) * step_ * xscale4) + kPlotLeft - offset_;
        const double inc = increments_[static_cast<std::size_t>(i)].doseInc;
        if (x >= kPlotLeft && x + 4 < cols)
            record.add(x, inc, i * step_);
        if (inc > 0.0 && x >= kPlotLeft && x < W)
            bars.add(x, yOf(inc));
    }
}

void ChartModel::paintNeutronBars(ChartCanvas& canvas) {
    for (ChartColumn& c : columns_) {
        c.neutronInc = -1.0;
        c.neutronTime = -1.0;
    }
    if (yMax_ == 0.0 || xRange_ == 0)
        return;
    const int W = width_, H = height_;
    const int cols = static_cast<int>(columns_.size());
    const double xscale4 = (W - kPlotLeft) * zoom_ / (4.0 * xRange_);

    BarBatch bars(canvas, barTops_, W, H - 39, kNeutronBarColour);
    BarColumns record(columns_, &ChartColumn::neutronInc, &ChartColumn::neutronTime, 5, true);
    // Records past the end of the list are not bars; they would only overwrite the
    // columns at the origin with time 0.
    const int count = neutronCount();
    for (int i = 0; i < count; ++i) {
        const ChartIncrement& rec = increments_[static_cast<std::size_t>(i)];
        const double time = neutron_[static_cast<std::size_t>(i)].time;
        const int x = Px(time * 4 * xscale4) + kPlotLeft - offset_;
        if (x >= kPlotLeft && x + 4 < cols)
            record.add(x, rec.neutronInc, time);
        if (rec.neutronInc > 0.0 && x >= kPlotLeft && x < W)
            bars.add(x, yOf(rec.neutronInc));
    }
}

double ChartModel::columnTime(int x) const {
    if (!(xscale_ > 0.0) || !std::isfinite(xscale_))
        return 0.0;
    return (x - kPlotLeft + offset_) / xscale_;
}

void ChartModel::paintTimeLabels(ChartCanvas& canvas) {
    const int W = width_, H = height_;
    const int spacing = (W - 165) / 6;
    auto label = [&](int k, long long seconds) {
        const int x = kPlotLeft + k * spacing;
        if (x < kPlotLeft || x >= W)
            return;
        const std::string text = FormatTime(seconds);
        if (!text.empty())
            canvas.text(x - 7 * Chars(text) / 2, H - 35, text, kTimeLabelBack);
        canvas.line(x, H - 42, x, H - 38, 1, kBlack);
    };
    if (zoom_ >= 1.0) {
        // Zoomed in and perhaps scrolled: each label gives the time at its own tick.
        for (int k = 0; k <= 6; ++k) {
            const double t = columnTime(kPlotLeft + k * spacing);
            label(k, static_cast<long long>(std::clamp(t, 0.0, 1e15)));
        }
        return;
    }
    if (stats_.lastDoseIndex == 0) {
        for (int k = 6; k >= 1; --k)
            label(k, static_cast<long long>(double(k) * stats_.doseSpan / 6));
        return;
    }
    // Each label gives the time under its own tick, in equal steps of a sixth of the time
    // under the last tick. (The span to the control's right edge, spread over ticks that
    // stop short of it, put every label about a tenth ahead of the bars beneath.)
    const double sixth = (columnTime(kPlotLeft + 6 * spacing) - columnTime(kPlotLeft)) / 6;
    const long long step = std::isfinite(sixth) ? static_cast<long long>(std::clamp(sixth, -1e15, 1e15)) : 0;
    for (int k = 0; k <= 6; ++k)
        label(k, k * step);
}

// ---- read-out ------------------------------------------------------------------------

ReadoutChange ChartModel::mouseMove(int x, int y) {
    if (x < 0 || x >= static_cast<int>(columns_.size()))
        return {};
    if (columnsStale_) {
        // Asked before the view now set up was painted: the steps that fill the column
        // table run without drawing.
        NoCanvas none;
        paintChart(none);
    }
    readoutX_ = x;
    readoutY_ = y;
    return placeReadout(x, y, readoutTextAt(x));
}

bool ChartModel::hideReadout() {
    const bool shown = !readoutRect_.none();
    readoutRect_ = {};
    readoutText_.clear();
    return shown;
}

std::string ChartModel::readoutTextAt(int x) const {
    const ChartColumn& col = columns_[static_cast<std::size_t>(x)];
    const Language lang = language_;
    std::string text;
    if (diagram_ == ChartDiagram::Dose) {
        if (col.dose > 0.0)
            text += ReadoutLine(MeasuresNeutron(model_) ? IDS_MIXED_DOSE : IDS_DOSE_VALUE, lang,
                                FormatDoseReadout(col.dose, lang));
        if (neutronShown_ && col.neutron > 0.0)
            text += ReadoutLine(IDS_NEUTRON_COMPONENT, lang, FormatDoseReadout(col.neutron, lang));
        text += ReadoutLine(IDS_TIME_FROM_START, lang,
                            col.doseTime == -1.0 ? "" : FormatTime(static_cast<long long>(col.doseTime)));
    } else {
        if (col.doseInc > 0.0)
            text += ReadoutLine(MeasuresNeutron(model_) ? IDS_MIXED_INCREMENT : IDS_GAMMA_INCREMENT, lang,
                                FormatDoseReadout(col.doseInc, lang));
        const bool neutronLine = neutronShown_ && col.neutronInc > 0.0;
        if (neutronLine)
            text += ReadoutLine(IDS_NEUTRON_INCREMENT, lang, FormatDoseReadout(col.neutronInc, lang));
        std::string time;
        if (neutronLine)
            time = FormatTime(static_cast<long long>(col.neutronTime));
        else if (col.doseTime != -1.0)
            time = FormatTime(static_cast<long long>(col.doseTime));
        text += ReadoutLine(IDS_TIME_FROM_START, lang, time);
    }
    return text;
}

ReadoutChange ChartModel::placeReadout(int x, int y, const std::string& text) {
    // Lines end in a line feed, and it counts as a character of its line.
    int lines = 0, longest = 0;
    const std::string_view all = text;
    for (std::size_t start = 0, end; (end = all.find('\n', start)) != std::string_view::npos; start = end + 1) {
        ++lines;
        longest = std::max(longest, Chars(all.substr(start, end - start)) + 1);
    }
    readoutText_ = text;
    const ChartRect old = readoutRect_;
    ReadoutChange change;
    change.repaint = true;
    if (lines > 0 && longest > 0) {
        readoutRect_ = {x, y, x + charWidth_ * longest, y + 20 * lines};
        ChartRect area = Union(old, readoutRect_);
        // A box that will be flipped to the left of the cursor is repainted there too.
        if (readoutRect_.right >= width_)
            area = Union(area, {2 * x - readoutRect_.right, y, x, readoutRect_.bottom});
        change.area = {area.left - 25, area.top - 15, area.right + 15, area.bottom + 15};
    } else {
        readoutRect_ = {};
        change.whole = true;
    }
    return change;
}

void ChartModel::paintReadout(ChartCanvas& canvas) {
    ChartRect& box = readoutRect_;
    if (box.right == -1 || box.top > height_ - kPlotBottomMargin)
        return;
    if (box.right >= width_) {
        const int left = box.left;
        box.left = 2 * left - box.right;
        box.right = left;
    }
    canvas.box(box.left, box.top, box.right, box.bottom, kBlack, kReadoutBack);
    // The text stays with the box, so a repaint that does not follow a mouse move still
    // shows it.
    std::size_t start = 0;
    int line = 0;
    while (start < readoutText_.size()) {
        std::size_t end = readoutText_.find('\n', start);
        if (end == std::string::npos)
            end = readoutText_.size();
        canvas.text(box.left + 1, box.top + 1 + 18 * line, readoutText_.substr(start, end - start),
                    kReadoutBack);
        start = end + 1;
        ++line;
    }
}

// ---- scrolling -----------------------------------------------------------------------

void ChartModel::scrollReset() {
    scroll_.min = 0;
    scroll_.max = std::max(scroll_.page, Px((width_ - kPlotLeft) * zoom_));
    scroll_.setPos(0);
    offset_ = 0;
    columnsStale_ = true;
}

bool ChartModel::scroll(ScrollRequest request, int trackPos) {
    int position = scroll_.pos;
    bool moves = true;
    switch (request) {
    case ScrollRequest::LineLeft: position -= 1; break;
    case ScrollRequest::LineRight: position += 1; break;
    case ScrollRequest::PageLeft: position -= scroll_.page; break;
    case ScrollRequest::PageRight: position += scroll_.page; break;
    case ScrollRequest::ThumbTrack: position = trackPos; break;
    default: moves = false; break;
    }
    scroll_.trackPos = trackPos;
    scroll_.setPos(position);
    if (!moves)
        return false;
    // The drawing follows the scroll bar, so requests at either end do not push it past
    // the range.
    offset_ = scroll_.pos;
    columnsStale_ = true;
    return true;
}

} // namespace dm
