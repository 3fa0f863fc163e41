// The call-script parser on its own: a recording callback stands in for
// the call engine.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "script/parse_engine.h"

namespace {

std::string Missing(const std::string& rest)
{
    return "Missing name-value pair in the parameter list. Current parsing point is : \"" + rest + "\"";
}
std::string NonEmptyToken(const std::string& rest) { return "Expecting an non-empty token at \"" + rest + "\""; }
std::string CloseParen(const std::string& rest) { return "Expecting a ')' at \"" + rest + "\""; }
std::string ParenOrAssign(const std::string& rest) { return "Expecting a '(' or '=' at \"" + rest + "\""; }
std::string Semicolon(const std::string& rest) { return "Expecting ';' at \"" + rest + "\""; }

// Records every call as "method(arg,arg)", with "->" when a result was asked
// for, and answers as the test configured.
struct Recorder {
    std::vector<std::string> calls;
    std::vector<int> argCounts;
    std::map<std::string, HRESULT> failures;
    std::map<std::string, LONG> intResults;
    std::map<std::string, std::wstring> textResults;
    std::string throwOn;

    static HRESULT Call(void* pContext, const char* lpszMethod, CGpcPtrArray* pArgs, VARIANT* pResult)
    {
        Recorder* self = static_cast<Recorder*>(pContext);
        std::string method = lpszMethod;
        std::string call = method + "(";
        int n = pArgs->GetCount();
        self->argCounts.push_back(n);
        // Very long lists are only counted.
        if (n <= 64) {
            for (int i = 0; i < n; ++i) {
                const char* value = static_cast<const char*>(pArgs->GetAt(i));
                if (i) call += ",";
                call += value ? value : "<null>";
            }
        } else {
            call += "..." + std::to_string(n);
        }
        call += ")";
        if (pResult) call += "->";
        self->calls.push_back(call);
        if (method == self->throwOn) throw std::runtime_error("thrown by the callback");
        auto failure = self->failures.find(method);
        if (failure != self->failures.end()) return failure->second;
        if (pResult) {
            EXPECT_EQ(V_VT(pResult), VT_EMPTY) << "the result arrives initialised empty";
            auto i = self->intResults.find(method);
            if (i != self->intResults.end()) {
                V_VT(pResult) = VT_I4;
                V_I4(pResult) = i->second;
            }
            auto t = self->textResults.find(method);
            if (t != self->textResults.end()) {
                V_VT(pResult) = VT_BSTR;
                V_BSTR(pResult) = SysAllocString(t->second.c_str());
            }
        }
        return S_OK;
    }
};

class ParseEngine : public ::testing::Test {
protected:
    void SetUp() override { SetVariables(); }
    void SetVariables()
    {
        vars.RemoveAll();
        vars.SetValue("a", "A");
        vars.SetValue("b", "B");
        vars.SetValue("c", "C");
        vars.SetValue("x", "X");
        vars.SetValue("GpcUrlRoot", "http://root/");
        vars.SetValue("%HWND", "1234");
        vars.SetValue("#LPARAM", "#LPARAM");
        vars.SetValue("$LPARAM_CONTENT", "content");
        vars.SetValue("\xC0", "high");
        vars.SetValue("empty", "");
    }

    // Runs a script with a fresh parser; keeps its last failure.
    int Run(const std::string& script)
    {
        CVRParseEngine parser(&vars, &Recorder::Call, &recorder);
        int ok = parser.Parse(script.c_str());
        failure = parser.GetLastFailure();
        return ok;
    }
    std::string Message() const { return failure.m_strMessage.GetText() ? failure.m_strMessage.GetText() : ""; }
    std::string Method() const { return failure.m_strMethod.GetText() ? failure.m_strMethod.GetText() : ""; }
    std::string Var(const char* name)
    {
        const char* value = nullptr;
        return vars.GetValue(name, &value) && value ? value : "<unset>";
    }

    CVRGpcNameValuePairs vars;
    Recorder recorder;
    CVRScriptException failure;
};

struct GrammarCase {
    const char* what;
    std::string script;
    std::vector<std::string> calls;
    std::string message;  // empty: the script runs to its end
};

TEST_F(ParseEngine, GrammarTable)
{
    const GrammarCase cases[] = {
        {"empty script", "", {}, ""},
        {"white space only", " \t\r\n \r\n", {}, ""},
        {"lone semicolon", ";", {}, NonEmptyToken(";")},
        {"trailing semicolon and blanks", "f(a);  ", {"f(A)"}, ""},
        {"blank before semicolon", "f(a) ;", {"f(A)"}, ""},
        {"no arguments", "f()", {"f()"}, ""},
        {"blank argument list", "f( )", {"f()"}, ""},
        {"blank between name and parenthesis", "f (a)", {"f(A)"}, ""},
        {"trailing comma", "f(a,)", {"f(A)"}, ""},
        {"leading comma", "f(,a)", {}, CloseParen(",a)")},
        {"double comma", "f(a,,b)", {}, CloseParen(",b)")},
        {"missing comma", "f(a b)", {}, CloseParen("b)")},
        {"semicolon inside the list", "f(a;b)", {}, CloseParen(";b)")},
        {"two calls without semicolon", "f(a)g(b)", {"f(A)"}, Semicolon("g(b)")},
        {"second parenthesis", "f(a)(b)", {"f(A)"}, Semicolon("(b)")},
        {"extra closing parenthesis", "f(a));", {"f(A)"}, Semicolon(");")},
        {"two semicolons", "f(a);;", {"f(A)"}, NonEmptyToken(";")},
        {"name alone", "f", {}, ParenOrAssign("")},
        {"name alone after a call", "f(a);g", {"f(A)"}, ParenOrAssign("")},
        {"assignment without call", "x =", {}, ""},
        {"assignment chain without call", "r = s = ", {}, ""},
        {"assignment to a bare name", "r = f", {}, ParenOrAssign("")},
        {"statement starting with =", "=f(a)", {}, NonEmptyToken("=f(a)")},
        {"double equals", "r = = f(a)", {}, NonEmptyToken("= f(a)")},
        {"unterminated list", "f(a", {}, CloseParen("")},
        {"unterminated after comma", "f(a,", {}, CloseParen("")},
        {"open parenthesis at the end", "f(", {}, CloseParen("")},
        {"unterminated assignment", "r = f(a", {}, CloseParen("")},
        {"argument names ignore letter case", "f(gpcurlroot, A)", {"f(http://root/,A)"}, ""},
        {"method names keep their case", "F(a)", {"F(A)"}, ""},
        {"unknown argument", "f(nosuch)", {}, Missing("nosuch)")},
        {"unknown argument after a known one", "f(a, nosuch)", {}, Missing("nosuch)")},
        {"a longer name is another name", "f(aa)", {}, Missing("aa)")},
        {"tab, CR and LF are blanks", "f(a)\t;\r\ng(\tb\n)\n", {"f(A)", "g(B)"}, ""},
        {"vertical tab joins the token", "f(a\x0B)", {}, Missing("a\x0B)")},
        {"assignment calls the second name", "a = b = f(x)", {"b(X)->"}, ""},
        {"assignment without blanks", "r=f(a)", {"f(A)->"}, ""},
        {"page-style script", "h = Start(%HWND, GpcUrlRoot); GpcChangeLocation(#LPARAM);",
         {"Start(1234,http://root/)->", "GpcChangeLocation(#LPARAM)"}, ""},
        {"bytes of 0x80 and above are name characters", "\xE9t\xE9(\xC0)", {"\xE9t\xE9(high)"}, ""},
        {"control characters are name characters", "f\x01(a)", {"f\x01(A)"}, ""},
        {"an empty value is passed as an empty text", "f(empty, a)", {"f(,A)"}, ""},
        {"each call sees only its own arguments", "f(a, b); g(c)", {"f(A,B)", "g(C)"}, ""},
    };
    for (const GrammarCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetVariables();  // assignments in earlier cases change them
        recorder.calls.clear();
        int ok = Run(c.script);
        EXPECT_EQ(recorder.calls, c.calls);
        if (c.message.empty()) {
            EXPECT_EQ(ok, 1);
        } else {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(failure.m_nKind, CVRScriptException::KIND_SYNTAX);
            EXPECT_EQ(failure.m_hrResult, S_OK);
            EXPECT_EQ(Message(), c.message);
            EXPECT_EQ(Method(), "");
        }
    }
}

// Every byte value: the four blanks separate, the 28 special characters
// cannot start a name, everything else is part of a name.
TEST_F(ParseEngine, EveryByteIsBlankSpecialOrNameCharacter)
{
    const std::string specials = "~`!@^&*()-+=|\\{}[]:;\"'<>,.?/";
    ASSERT_EQ(specials.size(), 28u);
    const std::string blanks = " \t\r\n";
    for (int b = 1; b < 256; ++b) {
        std::string ch(1, static_cast<char>(b));
        SCOPED_TRACE("byte " + std::to_string(b));
        recorder.calls.clear();
        if (blanks.find(ch) != std::string::npos) {
            EXPECT_EQ(Run("m" + ch + "(a)"), 1);
            EXPECT_EQ(recorder.calls, std::vector<std::string>{"m(A)"});
        } else if (specials.find(ch) != std::string::npos) {
            EXPECT_EQ(Run(ch + "f(a)"), 0);
            EXPECT_EQ(Message(), NonEmptyToken(ch + "f(a)"));
            EXPECT_TRUE(recorder.calls.empty());
        } else {
            EXPECT_EQ(Run("m" + ch + "(a)"), 1);
            EXPECT_EQ(recorder.calls, std::vector<std::string>{"m" + ch + "(A)"});
        }
    }
}

TEST_F(ParseEngine, AssignmentStoresTheResultAsDecimalText)
{
    recorder.intResults["neg"] = -5;
    recorder.intResults["big"] = 2147483647;
    recorder.textResults["num"] = L"42";
    recorder.textResults["word"] = L"abc";
    EXPECT_EQ(Run("r1 = none(); r2 = neg(); r3 = big(); r4 = num(); r5 = word()"), 1);
    EXPECT_EQ(Var("r1"), "0");            // the empty result converts to 0
    EXPECT_EQ(Var("r2"), "-5");
    EXPECT_EQ(Var("r3"), "2147483647");
    EXPECT_EQ(Var("r4"), "42");           // a numeric text converts
    EXPECT_EQ(Var("r5"), "0");            // no integer form: 0, not stray bits
}

TEST_F(ParseEngine, StoredResultsReplaceAndFeedLaterStatements)
{
    recorder.intResults["f"] = 7;
    recorder.intResults["g"] = 8;
    EXPECT_EQ(Run("r = f(); R = g(r); h(R)"), 1);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"f()->", "g(7)->", "h(8)"}));
    EXPECT_EQ(Var("r"), "8");  // one variable, whatever the letter case
    // Assignments outlive the run: a later script passes them on.
    recorder.calls.clear();
    EXPECT_EQ(Run("k(r)"), 1);
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"k(8)"});
}

TEST_F(ParseEngine, ChainedAssignmentStoresIntoTheFirstName)
{
    recorder.intResults["b"] = 3;
    EXPECT_EQ(Run("first = b = f(x)"), 1);
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"b(X)->"});
    EXPECT_EQ(Var("first"), "3");
    EXPECT_EQ(Var("b"), "B");  // the method's name is no target
}

TEST_F(ParseEngine, FailedCallRecordsKindResultAndMethod)
{
    recorder.failures["g"] = E_FAIL;
    EXPECT_EQ(Run("g(a)"), 0);
    EXPECT_EQ(failure.m_nKind, CVRScriptException::KIND_CALL);
    EXPECT_EQ(failure.m_hrResult, static_cast<HRESULT>(0x80004005));
    EXPECT_EQ(Method(), "g");
    EXPECT_EQ(Message(), "");

    EXPECT_EQ(Run("r = g(a)"), 0);
    EXPECT_EQ(failure.m_hrResult, static_cast<HRESULT>(0x80004005));
    EXPECT_EQ(Method(), "g");
    EXPECT_EQ(Var("r"), "<unset>");
}

TEST_F(ParseEngine, PositiveResultsAreNoFailure)
{
    recorder.failures["g"] = S_FALSE;
    EXPECT_EQ(Run("g(a); f(b)"), 1);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"g(A)", "f(B)"}));
}

TEST_F(ParseEngine, RunIsNotUndoneAfterAFailure)
{
    recorder.intResults["f"] = 11;
    recorder.failures["g"] = E_INVALIDARG;
    EXPECT_EQ(Run("r = f(); g(a); s = f(); f(b)"), 0);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"f()->", "g(A)"}));
    EXPECT_EQ(Var("r"), "11");
    EXPECT_EQ(Var("s"), "<unset>");
    EXPECT_EQ(failure.m_hrResult, E_INVALIDARG);
    EXPECT_EQ(Method(), "g");
}

TEST_F(ParseEngine, UnknownArgumentFailsBeforeTheCall)
{
    EXPECT_EQ(Run("f(a); r = g(b, missing)"), 0);
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"f(A)"});
    EXPECT_EQ(Message(), Missing("missing)"));
    EXPECT_EQ(Var("r"), "<unset>");
}

TEST_F(ParseEngine, ForeignExceptionEndsTheRunWithAnEmptyRecord)
{
    recorder.throwOn = "boom";
    EXPECT_EQ(Run("f(a); boom(b); f(c)"), 0);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"f(A)", "boom(B)"}));
    EXPECT_EQ(failure.m_nKind, 0);
    EXPECT_EQ(failure.m_hrResult, S_OK);
    EXPECT_EQ(Message(), "");
    EXPECT_EQ(Method(), "");
}

TEST_F(ParseEngine, FreshRecordIsEmpty)
{
    CVRParseEngine parser(&vars, &Recorder::Call, &recorder);
    EXPECT_EQ(parser.GetLastFailure().m_nKind, 0);
    EXPECT_EQ(parser.GetLastFailure().m_hrResult, S_OK);
    EXPECT_TRUE(parser.GetLastFailure().m_strMessage.IsEmpty());
    EXPECT_TRUE(parser.GetLastFailure().m_strMethod.IsEmpty());
}

TEST_F(ParseEngine, SecondRunOfOneParserStartsWithAnEmptyRecord)
{
    recorder.failures["g"] = E_FAIL;
    recorder.throwOn = "boom";
    CVRParseEngine parser(&vars, &Recorder::Call, &recorder);
    EXPECT_EQ(parser.Parse("g(a)"), 0);
    EXPECT_EQ(parser.Parse("boom()"), 0);
    EXPECT_EQ(parser.GetLastFailure().m_hrResult, S_OK);
    EXPECT_TRUE(parser.GetLastFailure().m_strMethod.IsEmpty());
    EXPECT_EQ(parser.Parse("f(a)"), 1);
}

// Messages are limited to 1,024 bytes with the terminator.
TEST_F(ParseEngine, SyntaxMessageIsCutAt1023Characters)
{
    const std::string head = "Expecting an non-empty token at \"";
    // Exactly 1,023 characters: kept whole.
    std::string rest = ";" + std::string(1023 - head.size() - 2, 'z');
    ASSERT_EQ(NonEmptyToken(rest).size(), 1023u);
    EXPECT_EQ(Run(rest), 0);
    EXPECT_EQ(Message(), NonEmptyToken(rest));

    // One more: the closing quote is cut.
    rest += "z";
    EXPECT_EQ(Run(rest), 0);
    EXPECT_EQ(Message(), NonEmptyToken(rest).substr(0, 1023));

    // The rest of a 100,000-character script.
    std::string script = "f(a); f(b)g" + std::string(100000, 'q') + "()";
    EXPECT_EQ(Run(script), 0);
    EXPECT_EQ(Message().size(), 1023u);
    EXPECT_EQ(Message(), Semicolon(script.substr(10)).substr(0, 1023));
}

TEST_F(ParseEngine, LongScriptsRunToTheirEnd)
{
    // 20,000 statements.
    std::string many;
    for (int i = 0; i < 20000; ++i) many += "f(a);";
    EXPECT_EQ(Run(many), 1);
    EXPECT_EQ(recorder.calls.size(), 20000u);

    // A 100,000-character method name.
    recorder.calls.clear();
    std::string name(100000, 'm');
    EXPECT_EQ(Run(name + "(b)"), 1);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0], name + "(B)");
}

// The argument list is read in a loop: a list far longer than any stack
// could hold one frame per argument for is read whole.
TEST_F(ParseEngine, HundredThousandArgumentsReachTheCallInOrder)
{
    std::string script = "f(a";
    for (int i = 1; i < 100000; ++i) script += (i % 2) ? ",b" : ", a";
    script += ",)";
    std::vector<std::string> seen;
    struct Capture {
        static HRESULT Call(void* ctx, const char*, CGpcPtrArray* pArgs, VARIANT*)
        {
            auto* out = static_cast<std::vector<std::string>*>(ctx);
            for (int i = 0; i < pArgs->GetCount(); ++i) out->push_back(static_cast<const char*>(pArgs->GetAt(i)));
            return S_OK;
        }
    };
    CVRParseEngine parser(&vars, &Capture::Call, &seen);
    EXPECT_EQ(parser.Parse(script.c_str()), 1);
    ASSERT_EQ(seen.size(), 100000u);
    EXPECT_EQ(seen[0], "A");
    EXPECT_EQ(seen[1], "B");
    EXPECT_EQ(seen[99998], "A");
    EXPECT_EQ(seen[99999], "B");
}

TEST_F(ParseEngine, ThousandsOfCommasEndInASyntaxFailure)
{
    std::string commas(5000, ',');
    EXPECT_EQ(Run("f(" + commas + ")"), 0);
    EXPECT_EQ(Message(), CloseParen(commas + ")").substr(0, 1023));
    EXPECT_TRUE(recorder.calls.empty());

    std::string list = "f(a";
    for (int i = 0; i < 5000; ++i) list += ",,a";
    EXPECT_EQ(Run(list + ")"), 0);
    // The list ends at the second comma.
    EXPECT_EQ(Message(), CloseParen(list.substr(4) + ")").substr(0, 1023));
}

// Random scripts over the language's characters end in success or in a
// well-formed failure record, never in a crash.
TEST_F(ParseEngine, RandomScriptsEndInSuccessOrAFailureRecord)
{
    recorder.failures["g"] = E_FAIL;
    const std::vector<std::string> pieces = {
        "a", "b", "f", "g", "r", "x", "nosuch", "(", ")", ",", ";", "=", " ", "\t", "\r\n",
        "\xC0", "\xE9", "\xFF", "\x01", "\x0B", "~", "\"", "'", "\\", "%HWND", "#LPARAM", "."};
    const char* const prefixes[] = {"Missing name-value pair", "Expecting an non-empty token",
                                    "Expecting a ')'", "Expecting a '(' or '='", "Expecting ';'"};
    std::mt19937 random(20240607u);
    int successes = 0, syntax = 0, calls = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string script;
        int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) script += pieces[random() % pieces.size()];
        recorder.calls.clear();
        int ok = Run(script);
        if (ok == 1) {
            ++successes;
            continue;
        }
        ASSERT_EQ(ok, 0) << script;
        if (failure.m_nKind == CVRScriptException::KIND_SYNTAX) {
            ++syntax;
            bool known = false;
            for (const char* prefix : prefixes) known = known || Message().rfind(prefix, 0) == 0;
            EXPECT_TRUE(known) << Message();
            EXPECT_LE(Message().size(), 1023u);
        } else {
            ++calls;
            EXPECT_EQ(Method(), "g") << script;
            EXPECT_EQ(failure.m_hrResult, E_FAIL);
        }
    }
    // The generator reaches every outcome.
    EXPECT_GT(successes, 0);
    EXPECT_GT(syntax, 0);
    EXPECT_GT(calls, 0);
}

TEST_F(ParseEngine, WhiteSpaceAndTokenScanners)
{
    const char text[] = " \t\r\n\x0B" "abc";
    EXPECT_EQ(CVRParseEngine::SkipWhiteSpace(text), text + 4);
    EXPECT_EQ(CVRParseEngine::ScanToken(text + 4), text + sizeof(text) - 1);
    const char stop[] = "ab,c";
    EXPECT_EQ(CVRParseEngine::ScanToken(stop), stop + 2);
    const char empty[] = "";
    EXPECT_EQ(CVRParseEngine::SkipWhiteSpace(empty), empty);
    EXPECT_EQ(CVRParseEngine::ScanToken(empty), empty);
}

}  // namespace
