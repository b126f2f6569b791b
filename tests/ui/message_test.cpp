// Messages reach our windows and controls without a single allocation: a
// failed one inside a window procedure would have nowhere safe to go.
#include "tests/ui/test_form.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>

namespace {

// Every allocation of this test program, on any thread.
std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    ++allocations;
    if (void* block = HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

using Messages = ShownTestForm;

TEST_F(Messages, ReachWindowsControlsAndClickEventsWithoutAnAllocation) {
    struct Case {
        const char* name;
        HWND window;
        UINT message;
    };
    const Case cases[] = {
        {"a form", form->Handle(), WM_USER + 1},            // a window of a class of ours
        {"a panel", form->panel.Handle(), WM_USER + 1},     // the same, as a child
        {"a button", form->button.Handle(), WM_USER + 1},   // a subclassed standard control
        {"a label", form->label.Handle(), WM_MOUSEMOVE},    // its event, with no handler
        {"a click", form->button.Handle(), BM_CLICK},       // the click event, through the panel
    };
    for (const Case& c : cases) {
        long before = allocations.load();
        SendMessageW(c.window, c.message, 0, 0);
        EXPECT_EQ(allocations.load() - before, 0) << c.name;
    }
    EXPECT_EQ(form->clicks, 1);
}
