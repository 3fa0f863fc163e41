// The call-script parser: reads a script from left to right and hands every
// call to its owner's callback. It knows nothing of what the methods are.
#include "script/parse_engine.h"

#include <cstdlib>
#include <cstring>

namespace {

// Formatted messages are limited to 1,024 bytes with the terminator, the
// same limit the system's printf-style formatting has everywhere else.
enum { SCRIPT_MESSAGE_LIMIT = 1024 };

const char GPC_MISSING_PAIR_TEXT[] =
    "Missing name-value pair in the parameter list. Current parsing point is : \"%s\"";
const char GPC_EMPTY_TOKEN_TEXT[] = "Expecting an non-empty token at \"%s\"";
const char GPC_CLOSE_PAREN_TEXT[] = "Expecting a ')' at \"%s\"";
const char GPC_PAREN_OR_ASSIGN_TEXT[] = "Expecting a '(' or '=' at \"%s\"";
const char GPC_SEMICOLON_TEXT[] = "Expecting ';' at \"%s\"";

inline bool IsWhiteSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

// The punctuation of the language. Every other non-zero byte (letters,
// digits, "_", "#", "$", "%", bytes of 0x80 and above, other control
// characters) belongs to a token, so "%HWND" and "$LPARAM_CONTENT" are names.
inline bool IsSpecial(char ch)
{
    switch (ch) {
    case '~': case '`': case '!': case '@': case '^': case '&': case '*':
    case '(': case ')': case '-': case '+': case '=': case '|': case '\\':
    case '{': case '}': case '[': case ']': case ':': case ';': case '"':
    case '\'': case '<': case '>': case ',': case '.': case '?': case '/':
        return true;
    default:
        return false;
    }
}

// A VARIANT that is cleared however the statement ends (a callback may
// have stored a string in it before failing or throwing).
class CScopedVariant {
public:
    CScopedVariant() { VariantInit(&m_Value); }
    ~CScopedVariant() { VariantClear(&m_Value); }
    CScopedVariant(const CScopedVariant&) = delete;
    CScopedVariant& operator=(const CScopedVariant&) = delete;
    VARIANT m_Value;
};

}  // namespace

CVRParseEngine::CVRParseEngine(CVRGpcNameValuePairs* pVariables, ScriptCallFn pfnCall, void* pContext)
    : m_pVariables(pVariables), m_pContext(pContext), m_pfnCall(pfnCall)
{
}

CVRParseEngine::~CVRParseEngine()
{
    ResetLists();
    m_Tokens.Free();
    m_Arguments.Free();
}

const char* CVRParseEngine::SkipWhiteSpace(const char* p)
{
    while (IsWhiteSpace(*p))
        ++p;
    return p;
}

const char* CVRParseEngine::ScanToken(const char* p)
{
    while (*p != '\0' && !IsWhiteSpace(*p) && !IsSpecial(*p))
        ++p;
    return p;
}

void CVRParseEngine::ResetLists()
{
    for (int i = 0; i < m_Tokens.GetCount(); ++i)
        free(m_Tokens.GetAt(i));
    m_Tokens.RemoveAll();
    // The argument values belong to the variable list.
    m_Arguments.RemoveAll();
}

int CVRParseEngine::Parse(const char* lpszScript)
{
    ResetLists();
    m_LastFailure.m_nKind = CVRScriptException::KIND_CALL;
    m_LastFailure.m_hrResult = S_OK;
    m_LastFailure.m_strMessage.Assign(nullptr);
    // A name left from an earlier run of this parser would be reported
    // with a failure that has nothing to do with it.
    m_LastFailure.m_strMethod.Assign(nullptr);

    // Anything thrown below ends the run: the syntax and call failures
    // raised here, and whatever the callback or an allocation throws. The
    // record then holds what was stored before the throw.
    try {
        if (lpszScript == nullptr)
            return 0;  // no script is not a script that ran
        const char* p = SkipWhiteSpace(lpszScript);
        while (*p != '\0') {
            p = SkipWhiteSpace(ParseStatement(p));
            if (*p != ';')
                break;
            p = SkipWhiteSpace(p + 1);
        }
        if (*p != '\0') {
            const char* q = SkipWhiteSpace(p);
            if (*q != '\0')
                RaiseSyntaxError(GPC_SEMICOLON_TEXT, q);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

const char* CVRParseEngine::ParseStatement(const char* p)
{
    // Reads "name", or "result = name" (further "x =" links are read and
    // ignored), up to the "(".
    for (;;) {
        p = SkipWhiteSpace(p);
        // A statement that stops after "=" calls nothing; its names are
        // dropped at the next reset.
        if (*p == '\0')
            return p;
        const char* e = ScanToken(p);
        if (e == p)
            RaiseSyntaxError(GPC_EMPTY_TOKEN_TEXT, p);

        size_t cchToken = static_cast<size_t>(e - p);
        char* lpszToken = static_cast<char*>(malloc(cchToken + 1));
        if (lpszToken == nullptr)
            RaiseCallError(nullptr, E_OUTOFMEMORY);
        memcpy(lpszToken, p, cchToken);
        lpszToken[cchToken] = '\0';
        if (!m_Tokens.Add(lpszToken)) {
            free(lpszToken);
            RaiseCallError(nullptr, E_OUTOFMEMORY);
        }

        p = SkipWhiteSpace(e);
        if (*p == '(')
            break;
        if (*p != '=')
            RaiseSyntaxError(GPC_PAREN_OR_ASSIGN_TEXT, p);
        ++p;
    }

    const char* q = SkipWhiteSpace(ParseArguments(p + 1));
    if (*q != ')')
        RaiseSyntaxError(GPC_CLOSE_PAREN_TEXT, q);

    if (m_Tokens.GetCount() == 1) {
        const char* lpszMethod = static_cast<const char*>(m_Tokens.GetAt(0));
        HRESULT hr = m_pfnCall ? m_pfnCall(m_pContext, lpszMethod, &m_Arguments, nullptr) : S_OK;
        if (FAILED(hr))
            RaiseCallError(lpszMethod, hr);
    } else {
        // In "a = b = f(x)" the first name takes the result and the second
        // is the method.
        const char* lpszResult = static_cast<const char*>(m_Tokens.GetAt(0));
        const char* lpszMethod = static_cast<const char*>(m_Tokens.GetAt(1));
        CScopedVariant result;
        HRESULT hr = m_pfnCall ? m_pfnCall(m_pContext, lpszMethod, &m_Arguments, &result.m_Value) : S_OK;
        if (FAILED(hr))
            RaiseCallError(lpszMethod, hr);
        // A result without a 32-bit integer form (a text that is no
        // number, an object) is stored as 0 rather than as whatever bits
        // happen to lie in the integer slot.
        LONG lValue = 0;
        if (SUCCEEDED(VariantChangeType(&result.m_Value, &result.m_Value, 0, VT_I4)) &&
            V_VT(&result.m_Value) == VT_I4)
            lValue = V_I4(&result.m_Value);
        char achValue[32];
        wsprintfA(achValue, "%ld", static_cast<long>(lValue));
        if (m_pVariables != nullptr && !m_pVariables->SetValue(lpszResult, achValue))
            RaiseCallError(nullptr, E_OUTOFMEMORY);
    }

    ResetLists();
    return q + 1;
}

const char* CVRParseEngine::ParseArguments(const char* p)
{
    // One argument per pass: a loop instead of one level of recursion per
    // argument, so that a list of any length cannot exhaust the stack.
    for (;;) {
        const char* s = SkipWhiteSpace(p);
        if (*s == '\0')
            return s;
        const char* e = ScanToken(s);
        if (e == s)
            return s;  // normally the ")"

        // Arguments are names of variables, never literals; the name must
        // match a variable's whole name (letter case aside).
        const char* lpszValue = nullptr;
        if (m_pVariables == nullptr ||
            !m_pVariables->GetValue(s, static_cast<int>(e - s), &lpszValue))
            RaiseSyntaxError(GPC_MISSING_PAIR_TEXT, s);
        // Callbacks rely on one non-null text per argument.
        if (lpszValue == nullptr)
            lpszValue = "";
        if (!m_Arguments.Add(const_cast<char*>(lpszValue)))
            RaiseCallError(nullptr, E_OUTOFMEMORY);

        p = SkipWhiteSpace(e);
        if (*p != ',')
            return p;
        ++p;
    }
}

void CVRParseEngine::RaiseSyntaxError(const char* lpszFormat, const char* lpszText)
{
    size_t cbBuffer = strlen(lpszFormat) + strlen(lpszText) + 16;
    if (cbBuffer > SCRIPT_MESSAGE_LIMIT)
        cbBuffer = SCRIPT_MESSAGE_LIMIT;  // the rest of a long script is cut
    char* lpszMessage = static_cast<char*>(malloc(cbBuffer));
    if (lpszMessage != nullptr) {
        GpcFormat(lpszMessage, static_cast<int>(cbBuffer), lpszFormat, lpszText);
        m_LastFailure.m_nKind = CVRScriptException::KIND_SYNTAX;
        m_LastFailure.m_strMessage.Assign(lpszMessage);
        free(lpszMessage);
    }
    throw CVRScriptException(m_LastFailure);
}

void CVRParseEngine::RaiseCallError(const char* lpszName, HRESULT hr)
{
    if (lpszName != nullptr)
        m_LastFailure.m_strMethod.Assign(lpszName);
    m_LastFailure.m_nKind = CVRScriptException::KIND_CALL;
    m_LastFailure.m_hrResult = hr;
    throw CVRScriptException(m_LastFailure);
}
