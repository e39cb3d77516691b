// Chart geometry without pixels: what the paint steps draw, where, and what the column
// table, the read-out and the scroll state hold afterwards.
#include "charts/chart_model.h"
#include "core/cp1251.h"
#include "recording_canvas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

using namespace dm;

namespace {

constexpr Rgb kGreen{0, 100, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kNeutronBar{90, 90, 255};
constexpr int W = 775, H = 489;

class ChartTest : public testing::Test {
protected:
    void SetUp() override {
        chart->setClientSize(W, H);
        chart->setZoom(100.0 / 110.0);
    }
    // Ten records growing by 1 mkSv each, one a minute.
    void tenRecords(Model model = Model::Mlv52b) {
        ChartHistory history{.model = model, .step = 60};
        for (int i = 0; i < 10; ++i)
            history.doses.push_back((i + 1) * 1e-6);
        chart->setHistory(history);
    }
    // Three neutron records at 100, 200 and 300 s on a 400 s time axis.
    void threeNeutronRecords() {
        chart->setHistory({.model = Model::Krt17a,
                           .step = 1,
                           .depth = 400,
                           .neutron = {{1e-5, 100}, {2e-5, 200}, {3e-5, 300}}});
    }
    RecordingCanvas paint() {
        RecordingCanvas canvas;
        chart->paint(canvas);
        return canvas;
    }
    std::unique_ptr<ChartModel> chart = std::make_unique<ChartModel>(Language::English);
};

std::vector<DrawnLine> Ticks(const RecordingCanvas& c) {
    std::vector<DrawnLine> out;
    for (const auto& l : c.lines)
        if (l.y1 == H - 42 && l.y2 == H - 38)
            out.push_back(l);
    return out;
}

} // namespace

TEST_F(ChartTest, DoseLineStartsAtOriginAndEndsShortOfTheRightEdgeAtDefaultScale) {
    tenRecords();
    chart->setDiagram(ChartDiagram::Dose);
    const RecordingCanvas c = paint();
    const DrawnPolyline* line = c.polylineOf(kGreen);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->width, 2);
    ASSERT_EQ(line->points.size(), 11u);
    EXPECT_EQ(line->points[0], (ChartPoint{110, H - 40}));
    // The first record stands one interval right of the origin.
    EXPECT_EQ(line->points[1], (ChartPoint{170, 449 - 42}));
    // The last one at trunc(100/110 x (W - 110)) + 110, at the top of the value axis.
    EXPECT_EQ(line->points.back(), (ChartPoint{714, 449 - 429}));
    EXPECT_EQ(chart->xRange(), 600);
    EXPECT_DOUBLE_EQ(chart->yMax(), 1e-5);

    // Below 110 % the time axis is labelled: seven labels, one at the origin, each giving
    // the time of the records beneath it, in both diagrams. Forty records a minute apart:
    // the last, 2400 s, stands at x = 714 and the last tick at 716.
    ChartHistory forty{.model = Model::Krt17a, .step = 60};
    for (int i = 0; i < 40; ++i)
        forty.doses.push_back((i + 1) * 1e-6);
    chart->setHistory(forty);
    for (ChartDiagram diagram : {ChartDiagram::Dose, ChartDiagram::Increments}) {
        chart->setDiagram(diagram);
        const RecordingCanvas drawn = paint();
        const auto labels = drawn.textsAt(H - 35);
        ASSERT_EQ(labels.size(), 7u);
        EXPECT_EQ(labels[0].text, "00:00:00");
        EXPECT_EQ(labels[0].x, 110 - 28);
        EXPECT_EQ(labels[1].text, "00:06:40");
        EXPECT_EQ(labels[6].text, "00:40:00");
        EXPECT_EQ(labels[6].x, 110 + 6 * 101 - 28);
        EXPECT_EQ(Ticks(drawn).size(), 7u);
    }
}

// Zoomed in and scrolled, each of the seven labels gives the time at its own tick, in
// both diagrams, with or without dose records.
TEST_F(ChartTest, TimeLabelsAtEveryZoomGiveTheTimeAtTheirTick) {
    for (bool records : {true, false}) {
        chart = std::make_unique<ChartModel>(Language::English);
        chart->setClientSize(W, H);
        if (records)
            tenRecords(); // 600 s on the time axis
        else
            chart->setHistory({.step = 60, .depth = 10});
        for (ChartDiagram diagram : {ChartDiagram::Dose, ChartDiagram::Increments}) {
            chart->setDiagram(diagram);
            chart->setZoom(400.0 / 110.0);
            paint();
            chart->scrollReset();
            chart->scroll(ScrollRequest::ThumbTrack, 1000);
            const RecordingCanvas c = paint();
            ASSERT_EQ(Ticks(c).size(), 7u);
            const auto labels = c.textsAt(H - 35);
            ASSERT_EQ(labels.size(), 7u);
            const double xscale = (W - 110) * chart->zoom() / 600.0;
            const int spacing = (W - 165) / 6;
            for (int k = 0; k <= 6; ++k) {
                const long long seconds = static_cast<long long>((k * spacing + chart->offset()) / xscale);
                char expected[48];
                std::snprintf(expected, sizeof expected, "00:%02lld:%02lld", seconds / 60, seconds % 60);
                EXPECT_EQ(labels[static_cast<std::size_t>(k)].text, expected) << k;
            }
        }
    }
}

TEST_F(ChartTest, SingleRecordLabelsTheTimeAxisFromTheDepth) {
    chart->setHistory({.step = 60, .depth = 100, .doses = {1e-3}});
    chart->setDiagram(ChartDiagram::Increments);
    const RecordingCanvas c = paint();
    EXPECT_EQ(chart->statistics().lastDoseIndex, 0);
    EXPECT_EQ(chart->statistics().doseSpan, 6000);
    const auto labels = c.textsAt(H - 35);
    ASSERT_EQ(labels.size(), 6u); // none at the origin
    EXPECT_EQ(labels[0].text, "01:40:00");
    EXPECT_EQ(labels[5].text, "00:16:40");
    for (const auto& tick : Ticks(c))
        EXPECT_NE(tick.x1, 110);
}

TEST_F(ChartTest, ValueAxisHasTwentyLevelsWithGradientBackgrounds) {
    tenRecords();
    chart->setDiagram(ChartDiagram::Dose);
    const RecordingCanvas c = paint();
    std::vector<DrawnText> labels;
    for (const auto& t : c.texts)
        if (t.y != H - 35)
            labels.push_back(t);
    ASSERT_EQ(labels.size(), 20u);
    EXPECT_EQ(labels[0].text, "0.5 mkSv");
    EXPECT_EQ(labels[19].text, "10.0 mkSv");
    EXPECT_EQ(labels[19].x, 101 - 8 * 9);
    EXPECT_EQ(labels[19].y, 14); // trunc(449 - 20 x 21.45 - 6)
    const double p = (H - 60) / 20.0;
    const Rgb expected{static_cast<std::uint8_t>(int(255 - 20 * p * 155 / H) - 8),
                       static_cast<std::uint8_t>(int(255 - 20 * p * 85 / H) - 8), 247};
    EXPECT_EQ(labels[19].background, expected);
}

TEST_F(ChartTest, EmptyHistoryShowsAxesAndLabelsOnly) {
    chart->setHistory({.step = 1, .depth = 1});
    for (ChartDiagram diagram : {ChartDiagram::Increments, ChartDiagram::Dose}) {
        chart->setDiagram(diagram);
        const RecordingCanvas c = paint();
        EXPECT_TRUE(c.polylines.empty());
        EXPECT_TRUE(c.fillsOf(kGreen).empty());
        int values = 0;
        std::string top;
        for (const auto& t : c.texts)
            if (t.y != H - 35) {
                ++values;
                top = t.text;
            }
        EXPECT_EQ(values, 20);
        EXPECT_EQ(top, "1.0 Sv");
        EXPECT_EQ(c.textsAt(H - 35).size(), 6u);
    }
}

TEST_F(ChartTest, NeutronStaircaseOfThreeRecordsCarriesTheLastLevelToTheAxisEnd) {
    threeNeutronRecords();
    chart->setDiagram(ChartDiagram::Dose, true);
    const RecordingCanvas c = paint();
    const DrawnPolyline* stairs = c.polylineOf(kBlue);
    ASSERT_NE(stairs, nullptr);
    const std::vector<ChartPoint> expected{{110, 449}, {261, 449}, {261, 306}, {412, 306}, {412, 163},
                                           {563, 163}, {563, 20},  {714, 20}};
    EXPECT_EQ(stairs->points, expected);
    // The column table keeps each level up to the next record.
    EXPECT_DOUBLE_EQ(chart->columns()[300].neutron, 1e-5);
    EXPECT_DOUBLE_EQ(chart->columns()[300].neutronTime, 100);
    EXPECT_DOUBLE_EQ(chart->columns()[600].neutron, -1.0);
}

TEST_F(ChartTest, IncrementBarsStandWhereThePointsStandAndOnTheAxis) {
    tenRecords();
    chart->setDiagram(ChartDiagram::Increments);
    const RecordingCanvas c = paint();
    const auto bars = c.fillsOf(kGreen);
    ASSERT_EQ(bars.size(), 10u);
    EXPECT_EQ(bars[0].left, 170);
    EXPECT_EQ(bars[0].right, 174);
    EXPECT_NEAR(bars[0].top, 20, 1);
    EXPECT_EQ(bars[0].bottom, H - 39);
    EXPECT_EQ(bars[9].left, 714);
    // A bar reads as its increment; its columns take the time of the record that follows.
    EXPECT_NEAR(chart->columns()[172].doseInc, 1e-6, 1e-12);
    EXPECT_DOUBLE_EQ(chart->columns()[172].doseTime, 60);
    EXPECT_DOUBLE_EQ(chart->columns()[175].doseInc, -1.0);
}

TEST_F(ChartTest, NeutronBarsUseTheirOwnColourAndTime) {
    threeNeutronRecords();
    chart->setDiagram(ChartDiagram::Increments, true);
    const RecordingCanvas c = paint();
    const auto bars = c.fillsOf(kNeutronBar);
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_EQ(bars[0].left, 261);
    EXPECT_EQ(bars[0].right, 265);
    for (int x = 261; x <= 264; ++x) {
        EXPECT_DOUBLE_EQ(chart->columns()[x].neutronTime, 100);
        EXPECT_DOUBLE_EQ(chart->columns()[x].neutronInc, 1e-5);
    }
}

TEST_F(ChartTest, ReadoutInDoseDiagramBeforeAndAfterTheFirstPoint) {
    tenRecords();
    chart->setDiagram(ChartDiagram::Dose);
    paint();
    chart->mouseMove(150, 100);
    EXPECT_EQ(chart->readoutText(), "Time from measurement start: 00:00:00\n");
    chart->mouseMove(200, 100);
    EXPECT_EQ(chart->readoutText(), "Dose value: 1.0 mkSv\nTime from measurement start: 00:01:00\n");
    EXPECT_EQ(chart->readoutRect(), (ChartRect{200, 100, 200 + 8 * 38, 140}));
    tenRecords(Model::Krt17a);
    paint();
    chart->mouseMove(200, 100);
    EXPECT_EQ(chart->readoutText().rfind("Mixed dose: 1.0 mkSv\n", 0), 0u);
    // Right of the last point the line has nothing to show.
    chart->mouseMove(780, 100);
    EXPECT_EQ(chart->readoutText(), "Time from measurement start: 00:11:00\n");
}

TEST_F(ChartTest, ReadoutInIncrementsDiagramGivesTheNeutronTime) {
    threeNeutronRecords();
    chart->setDiagram(ChartDiagram::Increments, true);
    paint();
    chart->mouseMove(263, 100);
    EXPECT_EQ(chart->readoutText(),
              "Dose neutron component increment: 10.0 mkSv\nTime from measurement start: 00:01:40\n");
    // Without the neutron component the same column shows only a time.
    chart->setDiagram(ChartDiagram::Increments);
    paint();
    chart->mouseMove(263, 100);
    EXPECT_EQ(chart->readoutText().find("neutron"), std::string::npos);
}

TEST_F(ChartTest, ReadoutBoxFlipsNearTheRightEdgeAndHidesBelowTheAxis) {
    tenRecords();
    chart->setDiagram(ChartDiagram::Dose);
    paint();
    const ReadoutChange change = chart->mouseMove(700, 100);
    ASSERT_TRUE(change.repaint);
    const ChartRect box = chart->readoutRect();
    ASSERT_GE(box.right, W);
    // The repaint covers the flipped box as well.
    EXPECT_LE(change.area.left, 2 * 700 - box.right - 25);
    RecordingCanvas c = paint();
    ASSERT_EQ(c.boxes.size(), 1u);
    EXPECT_EQ(c.boxes[0].left, 2 * 700 - box.right);
    EXPECT_EQ(c.boxes[0].right, 700);
    EXPECT_EQ(chart->readoutRect().right, 700);
    // A repaint without a mouse move keeps the text in the box.
    c = paint();
    EXPECT_EQ(c.texts.back().text, "Time from measurement start: 00:09:00");

    chart->mouseMove(300, H - 39);
    c = paint();
    EXPECT_TRUE(c.boxes.empty());
}

TEST_F(ChartTest, CursorBeyondTheColumnTableChangesNothing) {
    chart->setClientSize(1200, H);
    tenRecords();
    chart->setDiagram(ChartDiagram::Dose);
    paint();
    chart->mouseMove(500, 100);
    const std::string before = chart->readoutText();
    EXPECT_FALSE(chart->mouseMove(2000, 100).repaint);
    EXPECT_FALSE(chart->mouseMove(-1, 100).repaint);
    EXPECT_EQ(chart->readoutText(), before);
    EXPECT_TRUE(chart->mouseMove(1999, 100).repaint);
}

TEST_F(ChartTest, WideControlGetsAColumnForEveryPixel) {
    chart->setClientSize(2600, H);
    tenRecords();
    chart->setDiagram(ChartDiagram::Increments);
    const RecordingCanvas c = paint();
    EXPECT_GE(chart->columns().size(), 2600u);
    EXPECT_EQ(c.textsAt(H - 35).size(), 7u);
    EXPECT_TRUE(chart->mouseMove(2500, 100).repaint);
}

TEST_F(ChartTest, ScrollResetAndRequests) {
    tenRecords();
    chart->setDiagram(ChartDiagram::Dose);
    // The scroll bar's page is the plot's width, painted or not.
    EXPECT_EQ(chart->scrollState().page, W - 110);
    // At the default scale there is nothing to scroll; requests at the ends stay put.
    chart->scroll(ScrollRequest::PageLeft);
    EXPECT_EQ(chart->offset(), 0);

    chart->setZoom(200.0 / 110.0);
    chart->scrollReset();
    EXPECT_EQ(chart->scrollState().max, 1209);
    EXPECT_EQ(chart->scrollState().maxPos(), 1209 - 665 + 1);
    EXPECT_TRUE(chart->scroll(ScrollRequest::LineRight));
    EXPECT_EQ(chart->offset(), 1);
    EXPECT_TRUE(chart->scroll(ScrollRequest::PageRight));
    EXPECT_EQ(chart->offset(), 545); // limited to the range
    EXPECT_TRUE(chart->scroll(ScrollRequest::ThumbTrack, 300));
    EXPECT_EQ(chart->offset(), 300);
    EXPECT_FALSE(chart->scroll(ScrollRequest::ThumbPosition, 10));
    EXPECT_EQ(chart->offset(), 300);

    // A scrolled dose line enters at the left edge rather than rising from the origin.
    const RecordingCanvas c = paint();
    const DrawnPolyline* line = c.polylineOf(kGreen);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->points[0].x, 110);
    EXPECT_LT(line->points[0].y, H - 40);

    // A narrower control: a shorter page and drawing, the position kept inside them.
    chart->setClientSize(W - 300, H);
    EXPECT_EQ(chart->scrollState().page, 365);
    EXPECT_EQ(chart->scrollState().max, 663);
    EXPECT_EQ(chart->offset(), 663 - 365 + 1);
    chart->setClientSize(W, H);
    EXPECT_EQ(chart->scrollState().max, 1209);
    EXPECT_EQ(chart->offset(), 299);

    chart->setZoom(150.0 / 110.0);
    chart->scrollReset();
    EXPECT_EQ(chart->scrollState().pos, 0);
    EXPECT_EQ(chart->offset(), 0);
}

// The window and the read-out may ask before anything is drawn: what the history gives
// is there as soon as it is set, and the scales follow the diagram chosen.
TEST_F(ChartTest, HistoryIsPreparedBeforeAnyPaint) {
    threeNeutronRecords();
    EXPECT_DOUBLE_EQ(chart->statistics().neutronMax, 3e-5);
    EXPECT_EQ(chart->statistics().doseSpan, 400);
    EXPECT_DOUBLE_EQ(chart->increments()[1].neutronInc, 1e-5);
    chart->setDiagram(ChartDiagram::Dose, true);
    EXPECT_DOUBLE_EQ(chart->yMax(), 3e-5);
    EXPECT_EQ(chart->xRange(), 400);
    EXPECT_EQ(chart->yOf(3e-5), 20);
    chart->setDiagram(ChartDiagram::Increments);
    EXPECT_DOUBLE_EQ(chart->yMax(), 0.0);
    // A read-out reads the view as now set up, though it was never drawn.
    tenRecords();
    chart->setDiagram(ChartDiagram::Dose);
    chart->mouseMove(200, 100);
    EXPECT_EQ(chart->readoutText(), "Dose value: 1.0 mkSv\nTime from measurement start: 00:01:00\n");
    chart->setZoom(200.0 / 110.0);
    chart->mouseMove(200, 100);
    EXPECT_EQ(chart->readoutText(), "Time from measurement start: 00:00:00\n");
    // A history without a recording interval has no increments, not those of the one before.
    chart->setHistory({.step = 0, .doses = {5e-6}});
    EXPECT_DOUBLE_EQ(chart->increments()[0].doseInc, 0.0);
    EXPECT_DOUBLE_EQ(chart->increments()[3].doseInc, 0.0);
}

TEST_F(ChartTest, FullHistoryCountsItsLastRecords) {
    ChartHistory history{.step = 1};
    for (int i = 0; i < kChartRecords; ++i)
        history.doses.push_back((i + 1) * 1e-6);
    chart->setHistory(history);
    chart->setDiagram(ChartDiagram::Dose);
    paint();
    EXPECT_EQ(chart->statistics().lastDoseIndex, kChartRecords - 1);
    EXPECT_DOUBLE_EQ(chart->statistics().doseMax, kChartRecords * 1e-6);
}

TEST_F(ChartTest, HugeAndBrokenValuesStillPaint) {
    chart->setHistory({.step = 1e12,
                       .doses = {150.0, 1e300, std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()},
                       .neutron = {{1e308, 1e300}}});
    chart->setDiagram(ChartDiagram::Dose, true);
    RecordingCanvas c = paint();
    EXPECT_EQ(chart->xRange(), 2000000000);
    ASSERT_FALSE(c.texts.empty());
    EXPECT_NE(c.texts[19].text.find("Sv"), std::string::npos);
    chart->setDiagram(ChartDiagram::Increments, true);
    c = paint();
    chart->mouseMove(400, 100);
    EXPECT_FALSE(chart->readoutText().empty());
}

// At 1000 %, scrolled anywhere, both lines run to the right edge while data lies beyond
// it, and end at their last record once that is in view.
TEST_F(ChartTest, AtHighScalesBothLinesRunToTheEdgeOrTheEndOfTheData) {
    ChartHistory history{.model = Model::Krt17a, .step = 60};
    for (int i = 0; i < 100; ++i)
        history.doses.push_back((i + 1) * 1e-6);
    for (int i = 1; i <= 50; ++i)
        history.neutron.push_back({i * 1e-7, 120.0 * i});
    chart->setHistory(history);
    chart->setDiagram(ChartDiagram::Dose, true);
    chart->setZoom(1000.0 / 110.0);
    chart->scrollReset();
    const double xscale = (W - 110) * chart->zoom() / chart->xRange();
    const int lastX = static_cast<int>(6000 * xscale) + 110; // the last record, unscrolled
    for (int offset = 0; offset <= chart->scrollState().maxPos(); offset += 97) {
        chart->scroll(ScrollRequest::ThumbTrack, offset);
        const RecordingCanvas c = paint();
        const DrawnPolyline* gamma = c.polylineOf(kGreen);
        const DrawnPolyline* neutron = c.polylineOf(kBlue);
        ASSERT_TRUE(gamma && neutron) << offset;
        const ChartPoint end = gamma->points.back();
        if (lastX - offset > W) {
            EXPECT_EQ(end.x, W) << offset;
            // On the straight line between the records either side of the edge.
            const double seconds = (W - 110 + offset) / xscale;
            EXPECT_NEAR(end.y, chart->yOf(seconds / 60 * 1e-6), 2) << offset;
        } else {
            EXPECT_EQ(end, (ChartPoint{lastX - offset, chart->yOf(1e-4)})) << offset;
        }
        EXPECT_GE(neutron->points.back().x, std::min(W, lastX - offset)) << offset;
    }
}

// Labels of tiny (and huge) doses too wide for the room left of the axis read in exponent
// form, so none loses its leading digits; neighbours never read alike.
TEST_F(ChartTest, ValueLabelsTooWideForTheirRoomReadInExponentForm) {
    chart = std::make_unique<ChartModel>(Language::Russian);
    chart->setClientSize(W, H);
    chart->setReadoutCharWidth(9); // the chart font's
    auto labels = [&](double top) {
        chart->setHistory({.step = 60, .doses = {top / 2, top}});
        chart->setDiagram(ChartDiagram::Dose);
        std::vector<DrawnText> out;
        for (const DrawnText& t : paint().texts)
            if (t.y != H - 35)
                out.push_back(t);
        return out;
    };
    // Four decimals still fit: "0.0030 мкЗв", 11 characters of 9 pixels from x = 2.
    std::vector<DrawnText> fitting = labels(3e-9);
    ASSERT_EQ(fitting.size(), 20u);
    EXPECT_EQ(fitting[19].text, "0.0030 мкЗв");
    EXPECT_EQ(fitting[19].x, 2);
    for (double top : {3e-10, 1.5e-13, 3e-20, 2e99}) {
        const std::vector<DrawnText> wide = labels(top);
        ASSERT_EQ(wide.size(), 20u);
        for (std::size_t i = 0; i < wide.size(); ++i) {
            EXPECT_GE(wide[i].x, 0) << top;
            EXPECT_LE(9 * Utf8Length(wide[i].text), 101u) << wide[i].text;
            EXPECT_NE(wide[i].text.find("E"), std::string::npos) << wide[i].text;
            if (i > 0) {
                EXPECT_NE(wide[i].text, wide[i - 1].text) << top;
            }
        }
        if (top == 3e-10) {
            EXPECT_EQ(wide[0].text, "1.50E-11 Зв");
            EXPECT_EQ(wide[19].text, "3.00E-10 Зв");
        }
    }
}
