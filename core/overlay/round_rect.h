// The filled rounded rectangle of the Windows RoundRect with a one-pixel
// pen and a brush of the same colour, without antialiasing.
#pragma once

#include <cstdint>
#include <vector>

namespace mk::overlay {

// A width x height mask, rows top-down, 255 inside the figure and 0 outside.
// The figure covers columns 0..width-1 and rows 0..height-1; its corners are
// quarters of an ellipse `ellipseWidth` wide and `ellipseHeight` high
// (clamped to the rectangle). A pixel belongs to a corner when its centre
// lies inside the corner's ellipse.
std::vector<uint8_t> RoundRectMask(int32_t width, int32_t height, int32_t ellipseWidth,
                                   int32_t ellipseHeight);

}  // namespace mk::overlay
