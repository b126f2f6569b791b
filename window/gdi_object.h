// Ownership of GDI objects (fonts).
#pragma once

#include "engine/unique_handle.h"

#include <windows.h>

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
