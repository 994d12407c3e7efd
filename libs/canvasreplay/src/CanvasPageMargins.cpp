#include "rirudez/canvasreplay/CanvasPageMargins.h"

#include <algorithm>
#include <cmath>

namespace rirudez::CanvasPageMargins {

namespace {

bool isValidWidth(double width) {
    return std::isfinite(width) && width > 0;
}

// The page width whose right inset is reduced, and by how much.
constexpr double reducedRightInsetWidth = 820;
constexpr double rightInsetReduction = 25;

} // namespace

double leftInset(double pageWidth) {
    return isValidWidth(pageWidth) ? 0.095 * pageWidth : 0;
}

double rightInset(double pageWidth) {
    if (!isValidWidth(pageWidth))
        return 0;
    const double inset = 0.065 * pageWidth;
    if (std::abs(pageWidth - reducedRightInsetWidth) < 0.5)
        return std::max(inset - rightInsetReduction, 0.0);
    return inset;
}

double contentWidth(double pageWidth) {
    if (!isValidWidth(pageWidth))
        return minimumContentWidth;
    // Written as the width plus its negated left share, then less the right inset: results are compared
    // to other implementations at 1e-9, so the order of the operations is part of the contract.
    return std::max((pageWidth + pageWidth * (-0.095)) - rightInset(pageWidth), minimumContentWidth);
}

double maxWrapWidth(double availableWidth, double pageWidth, double lineAdvance) {
    const double content = contentWidth(pageWidth);
    const double base = std::isfinite(availableWidth) && availableWidth > 0 ? availableWidth : content;
    const double limit = content < base ? content : base;
    if (std::isfinite(lineAdvance) && lineAdvance > 0 && 0.6 * lineAdvance >= 24)
        return std::max(limit - 0.6 * lineAdvance, minimumContentWidth);
    return std::max(limit - 24, minimumContentWidth);
}

} // namespace rirudez::CanvasPageMargins
