// Answers the operating-system tests of the support library through its exit
// code: 100 + IsWindowsNT() + 2 * IsWindows2000OrLater(). The tests copy it
// under a name of their own and give that name a Windows version in Wine's
// per-program settings.
#include "npvrgpc/npbase.h"

int main()
{
    return 100 + (IsWindowsNT() ? 1 : 0) + (IsWindows2000OrLater() ? 2 : 0);
}
