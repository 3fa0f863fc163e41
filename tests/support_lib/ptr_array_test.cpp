#include <gtest/gtest.h>

#include "npvrgpc/npbase.h"
#include "support_lib_util.h"

// Sets the fields of an array directly (see the friend in CGpcPtrArray).
struct GpcPtrArrayTestAccess {
    static void Set(CGpcPtrArray& a, void** ppHead, int nCapacity, int nCount)
    {
        a.m_ppHead = ppHead;
        a.m_nCapacity = nCapacity;
        a.m_nCount = nCount;
    }
};

namespace {

// Distinct pointers without owning anything.
void* Slot(int i)
{
    static char s_achItems[64];
    return &s_achItems[i];
}

TEST(GpcPtrArray, StartsEmptyWithoutStorage)
{
    CGpcPtrArray a;
    EXPECT_EQ(nullptr, a.GetStorage());
    EXPECT_EQ(0, a.GetCapacity());
    EXPECT_EQ(0, a.GetCount());
    EXPECT_EQ(-1, a.Find(Slot(0)));
}

TEST(GpcPtrArray, GrowsBy16SlotsAndKeepsTheOrderAcrossTheGrowth)
{
    CGpcPtrArray a;
    ASSERT_EQ(1, a.Add(Slot(0)));
    EXPECT_EQ(16, a.GetCapacity());
    for (int i = 1; i < 16; ++i) ASSERT_EQ(1, a.Add(Slot(i)));
    EXPECT_EQ(16, a.GetCapacity());
    const void* const* ppBefore = a.GetStorage();

    ASSERT_EQ(1, a.Add(Slot(16)));  // the 17th append reallocates
    EXPECT_EQ(32, a.GetCapacity());
    EXPECT_EQ(17, a.GetCount());
    EXPECT_NE(ppBefore, a.GetStorage());
    for (int i = 0; i < 17; ++i) EXPECT_EQ(Slot(i), a.GetAt(i)) << i;

    for (int i = 17; i < 33; ++i) ASSERT_EQ(1, a.Add(Slot(i)));
    EXPECT_EQ(48, a.GetCapacity());
    EXPECT_EQ(33, a.GetCount());
    EXPECT_EQ(Slot(32), a.GetAt(32));
}

TEST(GpcPtrArray, GetAtOutsideTheUsedSlotsGivesNull)
{
    CGpcPtrArray a;
    a.Add(Slot(1));
    a.Add(Slot(2));
    EXPECT_EQ(nullptr, a.GetAt(-1));
    EXPECT_EQ(nullptr, a.GetAt(2));       // == count, though capacity is 16
    EXPECT_EQ(nullptr, a.GetAt(15));
    EXPECT_EQ(nullptr, a.GetAt(1000000));
    EXPECT_EQ(Slot(2), a.GetAt(1));
}

TEST(GpcPtrArray, GetAtWithoutStorageReportsAndGivesNull)
{
    DebugOutputCapture capture;
    CGpcPtrArray a;
    EXPECT_EQ(nullptr, a.GetAt(0));
    EXPECT_TRUE(ReportedAssert(capture, "m_ppHead != NULL"));
}

TEST(GpcPtrArray, UniqueAddRefusesAPointerAlreadyPresentPlainAddStoresItTwice)
{
    CGpcPtrArray a;
    ASSERT_EQ(1, a.Add(Slot(1), 1));
    EXPECT_EQ(0, a.Add(Slot(1), 1));
    EXPECT_EQ(1, a.GetCount());
    EXPECT_EQ(1, a.Add(Slot(1)));
    EXPECT_EQ(2, a.GetCount());
    EXPECT_EQ(0, a.Find(Slot(1)));  // the first slot that holds it

    // The same refusal right at the growth boundary leaves the count alone.
    CGpcPtrArray b;
    for (int i = 0; i < 16; ++i) b.Add(Slot(i));
    EXPECT_EQ(0, b.Add(Slot(3), 1));
    EXPECT_EQ(16, b.GetCount());
    EXPECT_EQ(nullptr, b.GetAt(16));
}

TEST(GpcPtrArray, RemoveTakesTheFirstOccurrenceAndKeepsTheOrderOfTheRest)
{
    CGpcPtrArray a;
    void* order[] = {Slot(0), Slot(1), Slot(2), Slot(1), Slot(3)};
    for (void* p : order) a.Add(p);

    EXPECT_EQ(1, a.Remove(Slot(1)));
    ASSERT_EQ(4, a.GetCount());
    EXPECT_EQ(Slot(0), a.GetAt(0));
    EXPECT_EQ(Slot(2), a.GetAt(1));
    EXPECT_EQ(Slot(1), a.GetAt(2));
    EXPECT_EQ(Slot(3), a.GetAt(3));
    EXPECT_EQ(2, a.Find(Slot(1)));

    EXPECT_EQ(1, a.Remove(Slot(3)));  // the last slot
    EXPECT_EQ(3, a.GetCount());
    EXPECT_EQ(nullptr, a.GetAt(3));
    EXPECT_EQ(0, a.Remove(Slot(9)));
    EXPECT_EQ(3, a.GetCount());
    EXPECT_EQ(16, a.GetCapacity());  // storage never shrinks
}

TEST(GpcPtrArray, RemovingNullIsReportedAndSearchedLikeAnyValue)
{
    DebugOutputCapture capture;
    CGpcPtrArray a;
    a.Add(Slot(0));
    a.Add(nullptr);
    EXPECT_EQ(1, a.Remove(nullptr));
    EXPECT_TRUE(ReportedAssert(capture, "lpv"));
    EXPECT_EQ(1, a.GetCount());
    EXPECT_EQ(0, a.Remove(nullptr));
}

TEST(GpcPtrArray, RemoveAllKeepsStorageFreeReleasesIt)
{
    CGpcPtrArray a;
    for (int i = 0; i < 20; ++i) a.Add(Slot(i));
    a.RemoveAll();
    EXPECT_EQ(0, a.GetCount());
    EXPECT_EQ(32, a.GetCapacity());
    EXPECT_NE(nullptr, a.GetStorage());
    EXPECT_EQ(-1, a.Find(Slot(0)));

    a.Add(Slot(5));
    EXPECT_EQ(Slot(5), a.GetAt(0));
    a.Free();
    EXPECT_EQ(nullptr, a.GetStorage());
    EXPECT_EQ(0, a.GetCapacity());
    EXPECT_EQ(0, a.GetCount());
    // Usable again after Free.
    EXPECT_EQ(1, a.Add(Slot(6)));
    EXPECT_EQ(16, a.GetCapacity());
}

TEST(GpcPtrArray, AnAppendThatCannotGrowFailsAndLeavesTheArrayAsItWas)
{
    // Full arrays whose next 16 slots overflow the slot count, overflow the
    // byte size of the request, or ask for 2 GB the allocator cannot give.
    const int capacities[] = {0x7FFFFFF8, 0x3FFFFFF0, 0x1FFFFFF0};
    for (int nCapacity : capacities) {
        CGpcPtrArray a;
        void* borrowed[1] = {Slot(0)};
        GpcPtrArrayTestAccess::Set(a, borrowed, nCapacity, nCapacity);
        EXPECT_EQ(0, a.Add(Slot(1))) << std::hex << nCapacity;
        EXPECT_EQ(borrowed, a.GetStorage());
        EXPECT_EQ(nCapacity, a.GetCapacity());
        EXPECT_EQ(nCapacity, a.GetCount());
        // Hand the borrowed storage back before the destructor frees it.
        GpcPtrArrayTestAccess::Set(a, nullptr, 0, 0);
    }
}

}  // namespace
