// The variable-argument call of an export: argument order, both calling
// conventions, the stack pointer and its alignment.
#include <gtest/gtest.h>

#include <malloc.h>

#include <string>
#include <vector>

#include "script/call_export.h"
#include "script_test_util.h"

namespace {

// The caller's ESP, read in the caller's own frame.
#define READ_ESP(var) __asm__ __volatile__("movl %%esp, %0" : "=r"(var))

std::string Numbered(const char* prefix, int n)
{
    return prefix + std::to_string(n);
}

// Texts "p1".."p12" and their addresses as arguments.
struct Arguments {
    Arguments()
    {
        for (int i = 0; i < 12; ++i) texts.push_back(Numbered("p", i + 1));
        for (auto& t : texts) values.push_back(reinterpret_cast<ULONG_PTR>(t.c_str()));
    }
    std::string Expected(const std::string& name, int n) const
    {
        std::string s = name + "(";
        for (int i = 0; i < n; ++i) s += (i ? "," : "") + texts[i];
        return s + ")";
    }
    std::vector<std::string> texts;
    std::vector<ULONG_PTR> values;
};

class CallExport : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(lib.Handle(), nullptr) << "script_exports.dll did not load"; }
    ExportsLibrary lib;
    Arguments args;
};

TEST_F(CallExport, BothConventionsGetEveryArgumentInOrder)
{
    for (int n = 0; n <= 12; ++n) {
        for (const char* kind : {"Std", "Cdecl"}) {
            std::string name = Numbered(kind, n);
            SCOPED_TRACE(name);
            FARPROC pfn = lib.Proc(name.c_str());
            ASSERT_NE(pfn, nullptr);
            LONG result = GpcCallExport(pfn, args.values.data(), n);
            EXPECT_EQ(result, (std::string(kind) == "Std" ? 1000 : 2000) + n);
            EXPECT_EQ(lib.LastCall(), args.Expected(name, n));
        }
    }
    EXPECT_EQ(lib.Misaligned(), 0);
}

TEST_F(CallExport, NullArgumentsStayNull)
{
    ULONG_PTR values[3] = {args.values[0], 0, args.values[2]};
    EXPECT_EQ(GpcCallExport(lib.Proc("Std3"), values, 3), 1003);
    EXPECT_EQ(lib.LastCall(), "Std3(p1,NULL,p3)");
    EXPECT_EQ(GpcCallExport(lib.Proc("Cdecl3"), values, 3), 2003);
    EXPECT_EQ(lib.LastCall(), "Cdecl3(p1,NULL,p3)");
}

TEST_F(CallExport, NegativeReturnValueComesBackSigned)
{
    EXPECT_EQ(GpcCallExport(lib.Proc("ReturnMinusOne"), args.values.data(), 1), -1);
    EXPECT_EQ(lib.LastCall(), "ReturnMinusOne(p1)");
}

TEST_F(CallExport, NoAddressOrNoArgumentsAreHandled)
{
    EXPECT_EQ(GpcCallExport(nullptr, args.values.data(), 3), 0);
    EXPECT_EQ(lib.Calls(), 0);
    EXPECT_EQ(GpcCallExport(lib.Proc("Std0"), nullptr, 0), 1000);
    // A negative count or a missing array passes nothing.
    EXPECT_EQ(GpcCallExport(lib.Proc("Cdecl0"), args.values.data(), -4), 2000);
    EXPECT_EQ(GpcCallExport(lib.Proc("Cdecl0"), nullptr, 5), 2000);
    EXPECT_EQ(lib.Calls(), 3);
}

// No upper limit: a cdecl export reads as many parameters as it is given.
TEST_F(CallExport, HundredThousandArgumentsReachTheExport)
{
    std::vector<std::string> texts;
    for (int i = 0; i < 100000; ++i) texts.push_back(Numbered("t", i + 1));
    std::vector<ULONG_PTR> values;
    for (auto& t : texts) values.push_back(reinterpret_cast<ULONG_PTR>(t.c_str()));
    values.push_back(0);
    ASSERT_TRUE(GpcStackHasRoomFor(static_cast<int>(values.size())));
    EXPECT_EQ(GpcCallExport(lib.Proc("CdeclUntilNull"), values.data(), static_cast<int>(values.size())), 100000);
    EXPECT_EQ(lib.LastCall(), "CdeclUntilNull(...t100000)");
    EXPECT_EQ(lib.Misaligned(), 0);
}

__attribute__((noinline)) LONG CallFromShiftedStack(FARPROC pfn, const ULONG_PTR* values, int n, int shift)
{
    // Moves this frame's ESP by a few bytes before the call.
    volatile char* pad = static_cast<volatile char*>(alloca(static_cast<size_t>(shift)));
    pad[0] = 0;
    return GpcCallExport(pfn, values, n);
}

TEST_F(CallExport, StackIsAlignedTo16AtEveryCall)
{
    for (int shift = 1; shift <= 32; ++shift) {
        for (int n = 0; n <= 12; ++n) {
            CallFromShiftedStack(lib.Proc(Numbered("Std", n).c_str()), args.values.data(), n, shift);
            CallFromShiftedStack(lib.Proc(Numbered("Cdecl", n).c_str()), args.values.data(), n, shift);
        }
    }
    EXPECT_EQ(lib.Calls(), 32 * 13 * 2);
    EXPECT_EQ(lib.Misaligned(), 0);
}

// stdcall exports remove their parameters and cdecl exports leave them:
// after 100,000 mixed calls the caller's stack pointer is where it was.
TEST_F(CallExport, StackPointerIsUnchangedAfterManyMixedCalls)
{
    FARPROC procs[26];
    for (int n = 0; n <= 12; ++n) {
        procs[2 * n] = lib.Proc(Numbered("Std", n).c_str());
        procs[2 * n + 1] = lib.Proc(Numbered("Cdecl", n).c_str());
    }
    ULONG_PTR espBefore = 0, espAfter = 0;
    READ_ESP(espBefore);
    long long sum = 0;
    for (int i = 0; i < 100000; ++i) {
        int k = i % 26;
        sum += GpcCallExport(procs[k], args.values.data(), k / 2);
    }
    READ_ESP(espAfter);
    EXPECT_EQ(espBefore, espAfter);
    EXPECT_EQ(lib.Calls(), 100000);
    EXPECT_EQ(lib.Misaligned(), 0);
    // Each of the 26 exports ran 3,846 or 3,847 times and answered its own value.
    long long expected = 0;
    for (int i = 0; i < 100000; ++i) expected += ((i % 26) % 2 ? 2000 : 1000) + (i % 26) / 2;
    EXPECT_EQ(sum, expected);
}

// Bytes of stack left below this function's frame.
__attribute__((noinline)) size_t StackLeft()
{
    MEMORY_BASIC_INFORMATION mbi;
    char here = 0;
    VirtualQuery(&here, &mbi, sizeof(mbi));
    return static_cast<size_t>(&here - static_cast<char*>(mbi.AllocationBase));
}

// Uses up the stack until about 300 KB are left, then asks for room.
__attribute__((noinline)) void ProbeNearlyFullStack(int* results)
{
    size_t left = StackLeft();
    volatile char* pad = static_cast<volatile char*>(alloca(left - 300 * 1024));
    pad[0] = 0;
    results[0] = GpcStackHasRoomFor(12);
    results[1] = GpcStackHasRoomFor(100000);  // 400 KB of arguments
}

TEST(StackRoom, ArgumentsThatWouldOverrunTheStackAreRefused)
{
    EXPECT_TRUE(GpcStackHasRoomFor(0));
    EXPECT_TRUE(GpcStackHasRoomFor(12));
    EXPECT_TRUE(GpcStackHasRoomFor(100000));  // 400 KB on a fresh 2 MB stack
    EXPECT_FALSE(GpcStackHasRoomFor(-1));
    EXPECT_FALSE(GpcStackHasRoomFor(0x7FFFFFFF));

    int results[2] = {-1, -1};
    ProbeNearlyFullStack(results);
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 0);
}

}  // namespace
