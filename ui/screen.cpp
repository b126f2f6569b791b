#include "ui/screen.h"

#include "runtime/gdi_handles.h"

#include <windows.h>

namespace ui {

namespace {

void BecomeDpiAware() {
    // A program's manifest should say this (dpiAware true), as Windows reads
    // it before any code runs; the call stands in for a program or a system
    // that does not. Aware of the system's dpi, not of each monitor's: the
    // forms scale once, and per-monitor awareness would have them follow
    // WM_DPICHANGED on every move to another monitor. Vista and later; an
    // older system never stretches a window.
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return;
    FARPROC found = GetProcAddress(user32, "SetProcessDPIAware");
    if (found == nullptr) return;
    // Through the generic function type, which any function pointer casts to.
    reinterpret_cast<BOOL(WINAPI*)()>(reinterpret_cast<void (*)()>(found))();
}

int ReadScreenDpi() {
    BecomeDpiAware();
    runtime::ScopedGetDc screen(nullptr);
    int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : kDesignPixelsPerInch;
}

}  // namespace

int ScreenPixelsPerInch() {
    static const int dpi = ReadScreenDpi();
    return dpi;
}

int ScaledToDpi(int designed, int dpi) { return MulDiv(designed, dpi, kDesignPixelsPerInch); }

Bounds ScaledToDpi(const Bounds& designed, int dpi) {
    int left = ScaledToDpi(designed.left, dpi);
    int top = ScaledToDpi(designed.top, dpi);
    return {left, top, ScaledToDpi(designed.left + designed.width, dpi) - left,
            ScaledToDpi(designed.top + designed.height, dpi) - top};
}

}  // namespace ui
