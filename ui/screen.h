// The screen the windows are shown on: its dots per inch, which designs drawn
// at 96 dpi are scaled to.
#pragma once

#include "ui/control.h"

namespace ui {

// The dots per inch that designs are drawn at.
inline constexpr int kDesignPixelsPerInch = 96;

// The screen's dots per inch. The first call makes the process aware of the
// system dpi, so that Windows shows its windows unstretched, and reads it;
// later calls give the same.
int ScreenPixelsPerInch();

// A length designed at kDesignPixelsPerInch, at dpi: times dpi / 96, rounded
// as MulDiv rounds (halves away from zero).
int ScaledToDpi(int designed, int dpi);
// A place designed at kDesignPixelsPerInch, at dpi. Its four edges are scaled
// and its width and height are the distances between them, so that edges
// that meet as designed meet at every dpi: scaling each number on its own
// would round a width and the left edge apart and open a seam or an overlap.
Bounds ScaledToDpi(const Bounds& designed, int dpi);

}  // namespace ui
