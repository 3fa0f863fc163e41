// The general call engine: library runs against the script_exports fixture,
// control runs against an IDispatch object, and the script variables.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "script/call_engine.h"
#include "script_test_util.h"

namespace {

std::string Hex(const void* p)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%x", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(p)));
    return text;
}

std::string Text(const CGpcString& s) { return s.GetText() ? s.GetText() : ""; }

class LibraryRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(lib.Handle(), nullptr) << "script_exports.dll did not load";
        for (int i = 1; i <= 12; ++i)
            engine.SetVariable(("a" + std::to_string(i)).c_str(), ("v" + std::to_string(i)).c_str());
    }
    int Run(const std::string& script) { return engine.RunLibraryScript(lib.Handle(), script.c_str(), &failure); }
    std::string Var(const char* name)
    {
        const char* v = engine.GetVariable(name);
        return v ? v : "<unset>";
    }

    ExportsLibrary lib;
    TraceCapture trace;
    CVRScriptCall engine;
    CVRScriptException failure;
};

TEST_F(LibraryRun, ExportsOfBothConventionsGetTheScriptsArguments)
{
    for (int n = 0; n <= 12; ++n) {
        for (const std::string kind : {"Std", "Cdecl"}) {
            std::string name = kind + std::to_string(n);
            std::string list, expected = name + "(";
            for (int i = 1; i <= n; ++i) {
                list += (i > 1 ? ", a" : "a") + std::to_string(i);
                expected += (i > 1 ? ",v" : "v") + std::to_string(i);
            }
            expected += ")";
            SCOPED_TRACE(name);
            ASSERT_EQ(Run("r = " + name + "(" + list + ")"), 1);
            EXPECT_EQ(lib.LastCall(), expected);
            EXPECT_EQ(Var("r"), std::to_string((kind == "Std" ? 1000 : 2000) + n));
        }
    }
    EXPECT_EQ(lib.Misaligned(), 0);
}

TEST_F(LibraryRun, ExportReturningMinusOneStoresMinusOne)
{
    EXPECT_EQ(Run("r = ReturnMinusOne(a1)"), 1);
    EXPECT_EQ(Var("r"), "-1");
    EXPECT_EQ(lib.LastCall(), "ReturnMinusOne(v1)");
}

TEST_F(LibraryRun, StatementsCallInScriptOrder)
{
    EXPECT_EQ(Run("Std1(a1); Cdecl2(a2, a3); x = Std0(); Cdecl1(x)"), 1);
    EXPECT_EQ(lib.Log(), "Std1(v1)\nCdecl2(v2,v3)\nStd0()\nCdecl1(1000)\n");
}

TEST_F(LibraryRun, MissingExportIsSkippedTracedAndStoresZero)
{
    EXPECT_EQ(Run("r = NoSuchExport(a1); Std1(a2)"), 1);
    EXPECT_EQ(Var("r"), "0");
    EXPECT_EQ(lib.Log(), "Std1(v2)\n");
    EXPECT_TRUE(trace.HasLine("ScriptCall:hModule:" + Hex(lib.Handle()) + ",lpszMethod:NoSuchExport,pfnMethod:0"))
        << trace.Dump();
    EXPECT_FALSE(trace.Contains("ScriptCall: 0 ends"));
}

TEST_F(LibraryRun, CallIsTracedBeforeAndAfter)
{
    EXPECT_EQ(Run("Std2(a1, a2)"), 1);
    std::string address = Hex(reinterpret_cast<void*>(lib.Proc("Std2")));
    int before = trace.IndexOf("ScriptCall:hModule:" + Hex(lib.Handle()) + ",lpszMethod:Std2,pfnMethod:" + address);
    int after = trace.IndexOf("ScriptCall: " + address + " ends. Return: 1002");
    EXPECT_GE(before, 0) << trace.Dump();
    EXPECT_GT(after, before) << trace.Dump();
    EXPECT_EQ(Run("ReturnMinusOne(a1)"), 1);
    EXPECT_TRUE(trace.HasLine("ScriptCall: " + Hex(reinterpret_cast<void*>(lib.Proc("ReturnMinusOne"))) +
                              " ends. Return: -1"))
        << trace.Dump();
}

TEST_F(LibraryRun, DirectCallPassesNullsAndSetsAnIntegerResult)
{
    CGpcPtrArray list;
    char first[] = "one", third[] = "three";
    list.Add(first);
    list.Add(nullptr);
    list.Add(third);
    VARIANT result;
    VariantInit(&result);
    V_VT(&result) = VT_BSTR;
    V_BSTR(&result) = SysAllocString(L"replaced");  // cleared, not leaked
    EXPECT_EQ(engine.CallLibraryMethod(lib.Handle(), "Cdecl3", &list, &result), S_OK);
    EXPECT_EQ(lib.LastCall(), "Cdecl3(one,NULL,three)");
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 2003);
    // Without a result the call is made all the same.
    EXPECT_EQ(engine.CallLibraryMethod(lib.Handle(), "Std3", &list, nullptr), S_OK);
    EXPECT_EQ(lib.LastCall(), "Std3(one,NULL,three)");
}

TEST_F(LibraryRun, MissingExportLeavesTheResultAsItWas)
{
    CGpcPtrArray list;
    VARIANT result;
    VariantInit(&result);
    V_VT(&result) = VT_I4;
    V_I4(&result) = 77;
    EXPECT_EQ(engine.CallLibraryMethod(lib.Handle(), "Absent", &list, &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 77);
}

TEST_F(LibraryRun, ManyArgumentsReachAVariadicExport)
{
    std::vector<std::string> texts;
    for (int i = 0; i < 5000; ++i) texts.push_back("w" + std::to_string(i + 1));
    CGpcPtrArray list;
    for (auto& t : texts) list.Add(const_cast<char*>(t.c_str()));
    list.Add(nullptr);
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(engine.CallLibraryMethod(lib.Handle(), "CdeclUntilNull", &list, &result), S_OK);
    EXPECT_EQ(V_I4(&result), 5000);
    EXPECT_EQ(lib.LastCall(), "CdeclUntilNull(...w5000)");
}

// Uses up the stack until about 300 KB are left, then calls an export with
// 100,000 arguments (400 KB) and with 3.
__attribute__((noinline)) void CallOnNearlyFullStack(CVRScriptCall* engine, HMODULE lib, CGpcPtrArray* many,
                                                     CGpcPtrArray* few, HRESULT* results)
{
    MEMORY_BASIC_INFORMATION mbi;
    char here = 0;
    VirtualQuery(&here, &mbi, sizeof(mbi));
    size_t left = static_cast<size_t>(&here - static_cast<char*>(mbi.AllocationBase));
    volatile char* pad = static_cast<volatile char*>(alloca(left - 300 * 1024));
    pad[0] = 0;
    results[0] = engine->CallLibraryMethod(lib, "CdeclUntilNull", many, nullptr);
    results[1] = engine->CallLibraryMethod(lib, "CdeclUntilNull", few, nullptr);
}

// A list longer than the stack can take is refused with a failure instead
// of overrunning the stack; shorter calls on the same stack go through.
TEST_F(LibraryRun, ArgumentsBeyondTheStackFailInsteadOfOverrunning)
{
    static char text[] = "x";
    CGpcPtrArray many, few;
    for (int i = 0; i < 100000; ++i) many.Add(text);
    many.Add(nullptr);
    few.Add(text);
    few.Add(text);
    few.Add(nullptr);
    HRESULT results[2] = {S_OK, E_FAIL};
    CallOnNearlyFullStack(&engine, lib.Handle(), &many, &few, results);
    EXPECT_EQ(results[0], HRESULT_FROM_WIN32(ERROR_STACK_OVERFLOW));
    EXPECT_EQ(results[1], S_OK);
    EXPECT_EQ(lib.Log(), "CdeclUntilNull(...x)\n");
    EXPECT_TRUE(trace.Contains("arguments do not fit on the stack")) << trace.Dump();
}

TEST_F(LibraryRun, MissingLibraryOrScriptFailsAndLeavesTheRecord)
{
    failure.m_nKind = 5;
    failure.m_hrResult = 0x1234;
    EXPECT_EQ(engine.RunLibraryScript(nullptr, "Std0()", &failure), 0);
    EXPECT_EQ(engine.RunLibraryScript(lib.Handle(), nullptr, &failure), 0);
    EXPECT_EQ(failure.m_nKind, 5);
    EXPECT_EQ(failure.m_hrResult, 0x1234);
    EXPECT_EQ(lib.Calls(), 0);
    EXPECT_EQ(engine.RunLibraryScript(lib.Handle(), "Std0()", nullptr), 1);
}

TEST_F(LibraryRun, FailureIsCopiedOut)
{
    EXPECT_EQ(Run("Std1(a1); Std1(nosuch)"), 0);
    EXPECT_EQ(failure.m_nKind, CVRScriptException::KIND_SYNTAX);
    EXPECT_EQ(Text(failure.m_strMessage),
              "Missing name-value pair in the parameter list. Current parsing point is : \"nosuch)\"");
    EXPECT_EQ(lib.Log(), "Std1(v1)\n");
    // A failing run without a record to fill only answers 0.
    EXPECT_EQ(engine.RunLibraryScript(lib.Handle(), "Std1(", nullptr), 0);
}

TEST_F(LibraryRun, RefusedScriptIsTracedWithItsReason)
{
    trace.Clear();
    EXPECT_EQ(Run("Std1(a1) Std1(a2)"), 0);
    EXPECT_TRUE(trace.HasLine("ScriptCall: script refused: Expecting ';' at \"Std1(a2)\"")) << trace.Dump();
    trace.Clear();
    EXPECT_EQ(engine.RunLibraryScript(lib.Handle(), "Std1(nosuch)", nullptr), 0);
    EXPECT_TRUE(trace.HasLine("ScriptCall: script refused: Missing name-value pair in the parameter list. "
                              "Current parsing point is : \"nosuch)\""))
        << trace.Dump();
}

// Many runs through the whole engine, both conventions and every count:
// the stack stays balanced and aligned (a drifting stack would crash or
// show in the fixture's alignment count).
TEST_F(LibraryRun, ManyMixedRunsKeepTheStackBalanced)
{
    trace.Clear();
    std::string script;
    for (int n = 0; n <= 12; ++n) {
        std::string list;
        for (int i = 1; i <= n; ++i) list += (i > 1 ? ",a" : "a") + std::to_string(i);
        script += "Std" + std::to_string(n) + "(" + list + ");Cdecl" + std::to_string(n) + "(" + list + ");";
    }
    for (int i = 0; i < 400; ++i) ASSERT_EQ(Run(script), 1);
    EXPECT_EQ(lib.Calls(), 400 * 26);
    EXPECT_EQ(lib.Misaligned(), 0);
}

TEST(ScriptVariables, SetReplaceAndLookUpIgnoringCase)
{
    CVRScriptCall engine;
    EXPECT_EQ(engine.GetVariable("GpcUrlRoot"), nullptr);
    EXPECT_EQ(engine.SetVariable("GpcUrlRoot", "http://one/"), 1);
    EXPECT_STREQ(engine.GetVariable("gpcurlroot"), "http://one/");
    EXPECT_EQ(engine.SetVariable("GPCURLROOT", "http://two/"), 1);
    EXPECT_STREQ(engine.GetVariable("GpcUrlRoot"), "http://two/");
    EXPECT_EQ(engine.m_Variables.GetCount(), 1);
    EXPECT_EQ(engine.GetVariable(nullptr), nullptr);
    // The engine keeps its own copies.
    char value[] = "mine";
    engine.SetVariable("v", value);
    value[0] = 'X';
    EXPECT_STREQ(engine.GetVariable("v"), "mine");
}

// --- Control runs -----------------------------------------------------------

class DispatchRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine.SetVariable("a", "A");
        engine.SetVariable("b", "B");
        engine.SetVariable("c", "C");
    }
    int Run(const std::string& script) { return engine.RunDispatchScript(&control, script.c_str(), &failure); }

    RecordingDispatch control;
    TraceCapture trace;
    CVRScriptCall engine;
    CVRScriptException failure;
};

TEST_F(DispatchRun, ArgumentsArriveLastFirstAsStrings)
{
    EXPECT_EQ(Run("Echo(a, b, c)"), 1);
    ASSERT_EQ(control.namesAsked, std::vector<std::wstring>{L"Echo"});
    ASSERT_EQ(control.invocations.size(), 1u);
    const auto& call = control.invocations[0];
    EXPECT_EQ(call.dispid, 1);
    EXPECT_TRUE(call.nullIid);
    EXPECT_EQ(call.lcid, 0u);
    EXPECT_EQ(call.flags, DISPATCH_METHOD);
    EXPECT_EQ(call.namedArgs, 0u);
    EXPECT_FALSE(call.hadResult);
    EXPECT_EQ(call.types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_BSTR}));
    EXPECT_EQ(call.values, (std::vector<std::wstring>{L"C", L"B", L"A"}));
    EXPECT_EQ(control.Refs(), 1u);
}

TEST_F(DispatchRun, NoArgumentsMakeAnEmptyList)
{
    EXPECT_EQ(Run("Echo()"), 1);
    ASSERT_EQ(control.invocations.size(), 1u);
    EXPECT_TRUE(control.invocations[0].types.empty());
}

TEST_F(DispatchRun, ResultIsStoredThroughTheAssignment)
{
    V_VT(&control.nextResult) = VT_I4;
    V_I4(&control.nextResult) = 42;
    EXPECT_EQ(Run("r = Value(a)"), 1);
    EXPECT_STREQ(engine.GetVariable("r"), "42");
    EXPECT_TRUE(control.invocations[0].hadResult);

    VariantClear(&control.nextResult);
    V_VT(&control.nextResult) = VT_BSTR;
    V_BSTR(&control.nextResult) = SysAllocString(L"-17");
    EXPECT_EQ(Run("r = Value()"), 1);
    EXPECT_STREQ(engine.GetVariable("r"), "-17");
}

TEST_F(DispatchRun, UnknownMethodIsSkipped)
{
    EXPECT_EQ(Run("Nope(a); r = Missing(); Echo(b)"), 1);
    EXPECT_EQ(control.namesAsked, (std::vector<std::wstring>{L"Nope", L"Missing", L"Echo"}));
    ASSERT_EQ(control.invocations.size(), 1u);
    EXPECT_EQ(control.invocations[0].values, std::vector<std::wstring>{L"B"});
    EXPECT_STREQ(engine.GetVariable("r"), "0");
}

TEST_F(DispatchRun, FailingInvokeEndsTheRunWithMethodAndResult)
{
    EXPECT_EQ(Run("Echo(a); Fail(b); Echo(c)"), 0);
    EXPECT_EQ(control.invocations.size(), 2u);
    EXPECT_EQ(failure.m_nKind, CVRScriptException::KIND_CALL);
    EXPECT_EQ(failure.m_hrResult, DISP_E_EXCEPTION);
    EXPECT_EQ(Text(failure.m_strMethod), "Fail");
    EXPECT_EQ(Text(failure.m_strMessage), "");
    char achLine[96];
    std::snprintf(achLine, sizeof(achLine), "ScriptCall: script stopped: Fail failed with 0x%08lx",
                  static_cast<unsigned long>(DISP_E_EXCEPTION));
    EXPECT_TRUE(trace.HasLine(achLine)) << trace.Dump();
}

TEST_F(DispatchRun, NullEntryBecomesANullString)
{
    CGpcPtrArray list;
    char text[] = "x";
    list.Add(nullptr);
    list.Add(text);
    EXPECT_EQ(engine.CallDispatchMethod(&control, "Echo", &list, nullptr), S_OK);
    ASSERT_EQ(control.invocations.size(), 1u);
    EXPECT_EQ(control.invocations[0].types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR}));
    EXPECT_EQ(control.invocations[0].nullStrings, (std::vector<bool>{false, true}));  // last first
    EXPECT_EQ(control.invocations[0].values[0], L"x");
}

TEST_F(DispatchRun, TextIsConvertedWithTheThreadCodePage)
{
    const char ansi[] = "caf\xE9 \x80";
    engine.SetVariable("t", ansi);
    EXPECT_EQ(Run("Echo(t)"), 1);
    wchar_t wide[16] = {};
    MultiByteToWideChar(CP_THREAD_ACP, 0, ansi, -1, wide, 16);
    ASSERT_EQ(control.invocations.size(), 1u);
    EXPECT_EQ(control.invocations[0].values[0], std::wstring(wide));
}

TEST_F(DispatchRun, MissingControlFails)
{
    EXPECT_EQ(engine.RunDispatchScript(nullptr, "Echo()", &failure), 0);
    EXPECT_TRUE(control.namesAsked.empty());
}

TEST(AnsiToBstr, ConvertsAndKeepsNullAndEmptyApart)
{
    EXPECT_EQ(GpcAnsiToBstr(nullptr), nullptr);
    BSTR empty = GpcAnsiToBstr("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
    BSTR text = GpcAnsiToBstr("http://x/?a=1");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text), L"http://x/?a=1");
    EXPECT_EQ(SysStringLen(text), 13u);
    SysFreeString(text);
}

}  // namespace
