// The 50 ms reading tick, the one-second close and the ring of 60 seconds.
#include "nixie/nixie_canvas.h"
#include "tests/window_fixture.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using testing_support::FeedSerial;
using testing_support::MakeWindow;

namespace {

// Records the hand-offs to the click sounds and the tubes.
class SpyWindow : public Window1 {
public:
    std::vector<Integer> clicks;
    std::vector<Integer> nixies;
    void PlayClickSound(Integer count) override { clicks.push_back(count); }
    void SetNixies(Integer count) override { nixies.push_back(count); }
};

class Counting : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = MakeWindow<SpyWindow>();
        // Start from "no choice yet", whatever the popup's Open did.
        w->Serial1 = nullptr;
        w->ourSerialPort = 0;
    }

    // A port chosen: the popup lists "None" and one port, the feed is the serial object.
    fw::Ref<FeedSerial> ChoosePort(fw::Integer row = 1)
    {
        auto popup = w->serialPopup();
        popup->DeleteAllRows();
        popup->AddRow("None");
        popup->AddRow("ttyTEST0");
        serial = fw::New<FeedSerial>();
        w->Serial1 = serial;
        w->ourSerialPort = row - 1;
        w->clicks.clear();
        return serial;
    }

    void Tick50(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            w->Timer2_Action(nullptr);
    }
    void Tick1000(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            w->Timer1_Action(nullptr);
    }
    std::string CPM() { return w->StaticCPM()->Text().ToStdString(); }

    fw::Ref<SpyWindow> w;
    fw::Ref<FeedSerial> serial;
};

TEST_F(Counting, IgnoreWindowDropsFortyReadingTicksThenCounts)
{
    ChoosePort();
    w->CheckBoxClicks()->SetValue(true);
    w->ignoreCountsTimer = 40;

    for (int tick = 1; tick <= 40; ++tick) {
        serial->Feed("xyz");
        Tick50();
        EXPECT_EQ(serial->Pending(), 0u) << "tick " << tick << " must consume its input";
    }
    EXPECT_EQ(w->ignoreCountsTimer, 0);
    EXPECT_EQ(w->tempCountsSum, 0) << "dropped input is gone for good";
    EXPECT_TRUE(w->clicks.empty()) << "no click while dropping";

    serial->Feed("ab");
    Tick50(); // the 41st
    EXPECT_EQ(w->tempCountsSum, 2);
    EXPECT_EQ(w->clicks, (std::vector<fw::Integer> { 2 }));
}

TEST_F(Counting, CountedTicksClickWithTheirCountZeroIncluded)
{
    ChoosePort();
    w->CheckBoxClicks()->SetValue(true);
    serial->Feed("a");
    Tick50();
    Tick50();
    serial->Feed("abcdef");
    Tick50();
    EXPECT_EQ(w->clicks, (std::vector<fw::Integer> { 1, 0, 6 }));

    w->CheckBoxClicks()->SetValue(false);
    serial->Feed("a");
    Tick50();
    EXPECT_EQ(w->clicks.size(), 3u) << "an unticked box plays nothing";
    EXPECT_EQ(w->tempCountsSum, 8);
}

struct GuardCase {
    const char* label;
    int rows; // rows of the popup: "None" plus ports
    fw::Integer ourSerialPort;
    bool withSerial;
    bool reads;
};

class Guard : public Counting, public ::testing::WithParamInterface<GuardCase> { };

TEST_P(Guard, ReadsOnlyWhenAPortIsListedOrChosen)
{
    const GuardCase& c = GetParam();
    auto popup = w->serialPopup();
    popup->DeleteAllRows();
    for (int r = 0; r < c.rows; ++r)
        popup->AddRow(r == 0 ? "None" : "ttyTEST");
    w->ourSerialPort = c.ourSerialPort;
    fw::Ref<FeedSerial> feed = fw::New<FeedSerial>();
    if (c.withSerial)
        w->Serial1 = feed;
    feed->Feed("12345");
    w->CheckBoxClicks()->SetValue(true);

    Tick50();

    EXPECT_EQ(feed->reads, c.reads ? 1 : 0);
    EXPECT_EQ(w->tempCountsSum, c.reads ? 5 : 0);
    // A tick that reads nothing still clicks with 0.
    EXPECT_EQ(w->clicks, (std::vector<fw::Integer> { c.reads ? 5 : 0 }));
}

INSTANTIATE_TEST_SUITE_P(Cases, Guard,
    ::testing::Values(GuardCase { "NoPortsListedNothingChosen", 1, 0, true, false },
        GuardCase { "EmptyPopupNothingChosen", 0, 0, true, false },
        GuardCase { "NoneChosenReadsTheUnopenedObject", 1, -1, true, true },
        GuardCase { "PortChosen", 2, 0, true, true },
        GuardCase { "PortListedButNoSerialObjectYet", 2, 0, false, false },
        GuardCase { "ChosenRowBeyondTheList", 2, 1, true, false }),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(Counting, BeforeAnySerialObjectTheRingStandsStill)
{
    w->StaticCPM()->SetText("-");
    Tick50(5);
    w->CheckBoxNixie()->SetValue(true);
    Tick1000(3);

    EXPECT_EQ(w->StaticStatus()->Text().ToStdString(), "No Port Opened");
    EXPECT_EQ(CPM(), "-");
    EXPECT_EQ(w->secondcountsindex, 0);
    EXPECT_TRUE(w->nixies.empty());
    EXPECT_TRUE(w->Canvas1(0)->Visible()) << "the display still switches";
    EXPECT_FALSE(w->StaticCPM()->Visible());
}

TEST_F(Counting, FirstMinuteIsThePlainSumThenTheRingWraps)
{
    ChoosePort();
    std::vector<fw::Integer> perSecond;
    for (int s = 0; s < 61; ++s) {
        const int n = (s * 7) % 13 + 1;
        perSecond.push_back(n);
        serial->Feed(std::string(static_cast<std::size_t>(n), 'p'));
        Tick50();
        Tick1000();
        const auto from = perSecond.size() > 60 ? perSecond.end() - 60 : perSecond.begin();
        const fw::Integer expected = std::accumulate(from, perSecond.end(), fw::Integer { 0 });
        ASSERT_EQ(CPM(), std::to_string(expected)) << "after second " << s + 1;
        ASSERT_EQ(w->nixies.back(), expected);
        if (s == 0) {
            EXPECT_EQ(CPM(), "1") << "the first second is not scaled to a minute";
        }
        if (s == 59) {
            EXPECT_EQ(w->secondcountsindex, 0) << "60 closed seconds wrap the index";
        }
    }
    EXPECT_EQ(w->counts[0], perSecond[60]) << "the 61st second replaces the first";
    for (std::size_t i = 60; i < w->counts.size(); ++i)
        EXPECT_EQ(w->counts[i], 0) << "element " << i << " lies outside the ring";
}

TEST_F(Counting, SecondsWithoutInputFallToZeroAndLargeValuesShowInFull)
{
    ChoosePort();
    serial->Feed(std::string(12345, 'x'));
    Tick50();
    Tick1000();
    EXPECT_EQ(CPM(), "12345");
    Tick1000(59);
    EXPECT_EQ(CPM(), "12345") << "still inside the minute";
    Tick1000();
    EXPECT_EQ(CPM(), "0");
}

TEST_F(Counting, DisplaySwitchShowsAtTheNextSecond)
{
    ChoosePort();
    Tick1000();
    EXPECT_TRUE(w->StaticCPM()->Visible());
    w->CheckBoxNixie()->SetValue(true);
    EXPECT_TRUE(w->StaticCPM()->Visible()) << "not at once";
    Tick1000();
    for (fw::Integer i = 0; i < 4; ++i)
        EXPECT_TRUE(w->Canvas1(i)->Visible());
    EXPECT_FALSE(w->StaticCPM()->Visible());
    w->CheckBoxNixie()->SetValue(false);
    Tick1000();
    for (fw::Integer i = 0; i < 4; ++i)
        EXPECT_FALSE(w->Canvas1(i)->Visible());
    EXPECT_TRUE(w->StaticCPM()->Visible());
}

TEST_F(Counting, APortChangeKeepsTheRing)
{
    ChoosePort();
    serial->Feed("aaaa");
    Tick50();
    Tick1000();
    ChoosePort(0); // "None": a new, unopened object
    Tick1000();
    EXPECT_EQ(CPM(), "4");
}

TEST_F(Counting, EveryByteValueAndABurstCountAsPulses)
{
    ChoosePort();
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    serial->Feed(all);
    Tick50();
    EXPECT_EQ(w->tempCountsSum, 256);

    serial->Feed(std::string(1 << 20, '\xff'));
    Tick50();
    Tick1000();
    EXPECT_EQ(CPM(), std::to_string(256 + (1 << 20)));
}

} // namespace
