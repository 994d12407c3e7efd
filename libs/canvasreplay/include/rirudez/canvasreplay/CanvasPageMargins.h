#pragma once

// Horizontal insets of the writing area on a canvas page, and the widths that follow from them.
// A valid page width is finite and greater than 0; invalid widths give insets of 0 and widths of 220.

namespace rirudez::CanvasPageMargins {

// Narrowest writing width any of the functions below returns.
inline constexpr double minimumContentWidth = 220;

// 0.095 × the page width.
double leftInset(double pageWidth);

// 0.065 × the page width, less 25 (never below 0) for a page width within half a unit of 820.
double rightInset(double pageWidth);

// The page width less both insets, never below 220.
double contentWidth(double pageWidth);

// Where a text line should wrap: the available width when it is valid, else the content width, never wider
// than the content width; less an allowance of 24, or of 0.6 × the line advance when that is at least 24;
// never below 220.
double maxWrapWidth(double availableWidth, double pageWidth, double lineAdvance);

} // namespace rirudez::CanvasPageMargins
