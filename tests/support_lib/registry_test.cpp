#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "npvrgpc/npbase.h"
#include "support_lib_util.h"

namespace {

TEST(RegistryKey, CreateThenOpenReportsTheDisposition)
{
    ScopedTestKey test("create");
    DWORD dwDisposition = 0;
    {
        CGpcRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, test.SubKey().c_str(), nullptr,
                                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &dwDisposition));
        EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), dwDisposition);
        EXPECT_NE(nullptr, key.GetHandle());
    }
    CGpcRegKey again;
    ASSERT_EQ(ERROR_SUCCESS, again.Create(HKEY_CURRENT_USER, test.SubKey().c_str(), nullptr,
                                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &dwDisposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), dwDisposition);
    // Without a disposition pointer.
    EXPECT_EQ(ERROR_SUCCESS, again.Create(HKEY_CURRENT_USER, test.SubKey().c_str()));
}

TEST(RegistryKey, StringValuesRoundTripWithTheirTerminator)
{
    ScopedTestKey test("values");
    CGpcRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, test.SubKey().c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue("1", "autoupdate"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue("C:\\Program Files\\x.dll", nullptr));  // the default value

    char achValue[64];
    DWORD cb = sizeof(achValue);
    DWORD dwType = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.QueryValue(achValue, "AUTOUPDATE", &cb, &dwType));
    EXPECT_STREQ("1", achValue);
    EXPECT_EQ(2u, cb);  // the stored length includes the terminator
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), dwType);

    cb = sizeof(achValue);
    ASSERT_EQ(ERROR_SUCCESS, key.QueryValue(achValue, nullptr, &cb));
    EXPECT_STREQ("C:\\Program Files\\x.dll", achValue);

    // What another reader sees.
    char achRaw[64];
    LONG cbRaw = sizeof(achRaw);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueA(HKEY_CURRENT_USER, test.SubKey().c_str(), achRaw, &cbRaw));
    EXPECT_STREQ("C:\\Program Files\\x.dll", achRaw);

    cb = sizeof(achValue);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryValue(achValue, "connectmsg", &cb));
}

TEST(RegistryKey, QueryValueReportsASmallBufferAndSizesWithoutOne)
{
    ScopedTestKey test("small");
    CGpcRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, test.SubKey().c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue("0123456789", "v"));

    DWORD cb = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryValue(nullptr, "v", &cb));
    EXPECT_EQ(11u, cb);

    char achSmall[4 + 4];
    memset(achSmall, '#', sizeof(achSmall));
    cb = 4;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryValue(achSmall, "v", &cb));
    EXPECT_EQ('\0', achSmall[3]);  // still a C text for a careless caller
    EXPECT_EQ('#', achSmall[4]);
}

TEST(RegistryKey, UnterminatedStringDataEndsInsideTheCallersBuffer)
{
    // Someone else wrote the value without its terminator.
    ScopedTestKey test("raw");
    CGpcRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, test.SubKey().c_str()));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "raw", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcd"), 4));

    char achValue[16];
    memset(achValue, '#', sizeof(achValue));
    DWORD cb = sizeof(achValue);
    ASSERT_EQ(ERROR_SUCCESS, key.QueryValue(achValue, "raw", &cb));
    EXPECT_STREQ("abcd", achValue);
    EXPECT_EQ(5u, cb);

    // Exactly as long as the buffer: there is no room to end it inside.
    char achExact[4 + 4];
    memset(achExact, '#', sizeof(achExact));
    cb = 4;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryValue(achExact, "raw", &cb));
    EXPECT_EQ('\0', achExact[3]);
    EXPECT_EQ('#', achExact[4]);
}

TEST(RegistryKey, OpeningIntoAHolderKeepsTheOldKeyWhenTheNewOneFails)
{
    ScopedTestKey test("reopen");
    CGpcRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, test.SubKey().c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue("parent", "who"));
    HKEY hBefore = key.GetHandle();

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_CURRENT_USER, (test.SubKey() + "\\Missing").c_str()));
    EXPECT_EQ(hBefore, key.GetHandle());
    char achValue[16];
    DWORD cb = sizeof(achValue);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryValue(achValue, "who", &cb));
    EXPECT_STREQ("parent", achValue);

    // The held key can be the parent of the next one.
    ASSERT_EQ(ERROR_SUCCESS, key.Create(key, "Deinstall"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue("child", "who"));
    CGpcRegKey check;
    ASSERT_EQ(ERROR_SUCCESS, check.Open(HKEY_CURRENT_USER, (test.SubKey() + "\\Deinstall").c_str(), KEY_READ));
    cb = sizeof(achValue);
    EXPECT_EQ(ERROR_SUCCESS, check.QueryValue(achValue, "who", &cb));
    EXPECT_STREQ("child", achValue);
}

TEST(RegistryKey, CloseAndOperationsWithoutAKeyReportErrors)
{
    CGpcRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
    char achValue[8];
    DWORD cb = sizeof(achValue);
    EXPECT_NE(ERROR_SUCCESS, key.QueryValue(achValue, "x", &cb));
    EXPECT_NE(ERROR_SUCCESS, key.SetStringValue("x", "y"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_CURRENT_USER, "Software\\GpcTest\\never_created_support_key"));
    EXPECT_EQ(nullptr, key.GetHandle());

    ScopedTestKey test("close");
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, test.SubKey().c_str()));
    EXPECT_NE(ERROR_SUCCESS, key.SetStringValue(nullptr, "y"));
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
    EXPECT_EQ(nullptr, key.GetHandle());
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
}

TEST(RegistryKey, OpenWithReadAccessCannotWrite)
{
    ScopedTestKey test("readonly");
    {
        CGpcRegKey writer;
        ASSERT_EQ(ERROR_SUCCESS, writer.Create(HKEY_CURRENT_USER, test.SubKey().c_str()));
    }
    CGpcRegKey reader;
    ASSERT_EQ(ERROR_SUCCESS, reader.Open(HKEY_CURRENT_USER, test.SubKey().c_str(), KEY_READ));
    EXPECT_EQ(ERROR_ACCESS_DENIED, reader.SetStringValue("1", "autoupdate"));
}

}  // namespace
