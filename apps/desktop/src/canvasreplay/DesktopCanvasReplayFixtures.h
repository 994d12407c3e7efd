#pragma once

// Fixed canvas results for previews and tests, on 820 × 1060 pages (the shell's page size), with rows placed
// as the layout places them (top margin 97.52, row height 45.58, bottom band from 985.8).

#include "DesktopCanvasReplayResult.h"

namespace rirudez::DesktopCanvasReplayFixtures {

// One page, one user block of three rows.
DesktopCanvasReplayResult singleUserBlock();
// Two pages: a user block at the top of page 0, an agent block that runs from the bottom of page 0 onto
// page 1.
DesktopCanvasReplayResult twoPageMixed();
// One page filled to its bottom band by an agent block, marked truncated.
DesktopCanvasReplayResult truncated();
// A horizontal two-point stroke.
DesktopCanvasReplayStroke straightLineStroke(double leftX, double rightX, double globalY, double width);

} // namespace rirudez::DesktopCanvasReplayFixtures
