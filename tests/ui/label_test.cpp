// A label is clicked as a button is, on the release inside it.
#include "tests/ui/test_form.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A point as a mouse message carries it (negative beyond the left and top).
LPARAM At(POINT point) { return MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y)); }

}  // namespace

using LabelTest = ShownTestForm;

TEST_F(LabelTest, ClicksWhenReleasedInsideAfterAPressInside) {
    struct Press {
        UINT message;
        POINT at;  // in the label's client area
    };
    constexpr POINT kInside{3, 3};
    constexpr POINT kOutside{-20, 40};  // dragged off: the capture still brings the release
    struct Case {
        const char* name;
        std::vector<Press> presses;
        int clicks;
    };
    const Case cases[] = {
        {"down and up inside", {{WM_LBUTTONDOWN, kInside}, {WM_LBUTTONUP, kInside}}, 1},
        {"down inside, up outside", {{WM_LBUTTONDOWN, kInside}, {WM_LBUTTONUP, kOutside}}, 0},
        {"down only", {{WM_LBUTTONDOWN, kInside}}, 0},
        {"pressed elsewhere, released inside", {{WM_LBUTTONUP, kInside}}, 0},
        {"a double click",
         {{WM_LBUTTONDOWN, kInside}, {WM_LBUTTONUP, kInside}, {WM_LBUTTONDBLCLK, kInside}, {WM_LBUTTONUP, kInside}},
         1},
        {"two clicks", {{WM_LBUTTONDOWN, kInside}, {WM_LBUTTONUP, kInside}, {WM_LBUTTONDOWN, kInside},
                        {WM_LBUTTONUP, kInside}}, 2},
    };
    HWND label = form->label.Handle();
    for (const Case& c : cases) {
        form->labelClicks = 0;
        for (const Press& press : c.presses) {
            WPARAM keys = press.message == WM_LBUTTONUP ? 0 : MK_LBUTTON;
            SendMessageW(label, press.message, keys, At(press.at));
        }
        EXPECT_EQ(form->labelClicks, c.clicks) << c.name;
        // Whatever happened, the label holds the mouse no longer.
        SendMessageW(label, WM_LBUTTONUP, 0, At(kOutside));
        EXPECT_NE(GetCapture(), label) << c.name;
    }
}
