// The owner of a WinINet handle (a session or a request), for the engine's
// fetches: the one layer that links WinINet.
#pragma once

#include "runtime/unique_handle.h"

#include <windows.h>
#include <wininet.h>

namespace engine {

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { InternetCloseHandle(h); }
};
using UniqueInternetHandle = runtime::UniqueHandle<InternetHandleTraits>;

}  // namespace engine
