#include "Platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

// Wine's own system library answers to a name that no Windows library has.
bool UnderWine() {
#if defined(_WIN32)
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
