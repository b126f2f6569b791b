// The screen the windows are shown on: its dots per inch, which designs drawn
// at 96 dpi are scaled to.
#pragma once

namespace ui {

// The dots per inch that designs are drawn at.
inline constexpr int kDesignPixelsPerInch = 96;

// The screen's dots per inch. The first call makes the process aware of the
// system dpi, so that Windows shows its windows unstretched, and reads it;
// later calls give the same.
int ScreenPixelsPerInch();

}  // namespace ui
