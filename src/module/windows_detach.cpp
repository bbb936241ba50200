// The extension library's entry point: when the library leaves the process,
// the link goes with it, so no pipe handle outlives the code that owns it.
#include <windows.h>

#include "link/client.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) {
        client.close();
    }
    return TRUE;
}
