// The time-remaining estimate: rate, seconds left and the localized text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "feedback/messages.h"
#include "feedback/progress.h"
#include "feedback/progress_internal.h"

namespace {

std::string TimeText(DWORD dwSeconds, WORD wLang = GPC_LANG_ENGLISH, int nSize = 256)
{
    char ach[256];
    std::memset(ach, 'x', sizeof(ach));
    FormatTimeLeft(wLang, dwSeconds, ach, nSize);
    return ach;
}

}  // namespace

TEST(TimeLeftText, MinutesRoundUpAndTheFirstMinuteReadsLessThanOne)
{
    struct Case {
        DWORD dwSeconds;
        const char* lpszText;
    } cases[] = {
        {0, ""},
        {1, "less than 1 minute"},
        {46, "less than 1 minute"},
        {60, "less than 1 minute"},
        {61, "about 2 minutes"},
        {120, "about 2 minutes"},
        {121, "about 3 minutes"},
        {180, "about 3 minutes"},
        {3600 * 5 + 1, "about 301 minutes"},
        {0xFFFFFFFFu, "about 71582789 minutes"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.lpszText, TimeText(c.dwSeconds)) << c.dwSeconds << " seconds";
}

TEST(TimeLeftText, LanguageWithoutResourcesFallsBackToEnglish)
{
    // 1034 (Spanish, traditional sort) is asked for but never carried.
    EXPECT_EQ("about 3 minutes", TimeText(180, 1034));
    EXPECT_EQ("less than 1 minute", TimeText(10, 1034));
}

TEST(TimeLeftText, SmallBufferIsCutNotOverrun)
{
    char ach[8];
    std::memset(ach, 'x', sizeof(ach));
    FormatTimeLeft(GPC_LANG_ENGLISH, 180, ach, 6);
    EXPECT_EQ('\0', ach[5]);
    EXPECT_EQ('x', ach[6]);
    FormatTimeLeft(GPC_LANG_ENGLISH, 180, nullptr, 256);  // nothing to write into: no crash
}

TEST(SecondsLeft, NoEstimateWithoutRateOrWhenEverythingArrived)
{
    struct Case {
        DWORD dwTotal, dwReceived, dwRate, dwSeconds;
    } cases[] = {
        {10000000, 3000000, 150000, 46},
        {10000000, 1000000, 50000, 180},
        {10000000, 1000000, 0, 0},          // no rate yet
        {10000000, 10000000, 50000, 0},     // done
        {10000000, 12000000, 50000, 0},     // more than announced
        {0, 0, 0, 0},                       // nothing announced
        {0, 5000, 5000, 0},
    };
    for (const auto& c : cases) {
        GpcProgressCounters counters;
        counters.TotalBytes = c.dwTotal;
        counters.ReceivedBytes = c.dwReceived;
        counters.BytesPerSecond = c.dwRate;
        EXPECT_EQ(c.dwSeconds, GetSecondsLeft(counters)) << c.dwTotal << "/" << c.dwReceived << "@" << c.dwRate;
    }
}

TEST(ProgressRate, AverageSinceStartWithWideProductAndWrappingTicks)
{
    struct Case {
        DWORD dwStart, dwNow, dwBytes, dwRate;
    } cases[] = {
        {1000, 21000, 3000000, 150000},
        {1000, 6000, 3000000, 600000},
        // Past 4,294,967 bytes the product with 1000 needs 64 bits.
        {0, 100000, 50000000, 500000},
        {0, 1000, 4000000000u, 4000000000u},
        // The tick count wrapped between the start and now: 1,500 ms.
        {0xFFFFFC18u, 500, 3000, 2000},
        // No time passed: counted as 1 ms, never a division by zero.
        {5000, 5000, 7, 7000},
    };
    for (const auto& c : cases) {
        GpcProgressCounters counters;
        counters.StartTick = c.dwStart;
        CountProgressBytesAt(counters, c.dwBytes, c.dwNow);
        EXPECT_EQ(c.dwBytes, counters.ReceivedBytes);
        EXPECT_EQ(c.dwRate, counters.BytesPerSecond) << c.dwStart << ".." << c.dwNow << " " << c.dwBytes;
    }
}

TEST(ProgressRate, BytesAccumulateAcrossNotices)
{
    GpcProgressCounters counters;
    counters.StartTick = 0;
    CountProgressBytesAt(counters, 1000, 1000);
    CountProgressBytesAt(counters, 3000, 2000);
    EXPECT_EQ(4000u, counters.ReceivedBytes);
    EXPECT_EQ(2000u, counters.BytesPerSecond);
}
