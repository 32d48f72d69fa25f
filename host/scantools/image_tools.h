#pragma once
// The colour arithmetic of the image tools (image_tools.cpp): the spectrum
// scale of depth pictures, depth from a scale position, and colour blending.
// Colours are red | green << 8 | blue << 16.

namespace ph {

// Position on the scale white 0 - red 255 - yellow 510 - green 765 -
// cyan 1020 - blue 1275; -9999 for a colour off the scale.
int spectrumIndex(int colour);
// c0 + c1 x + ... + cn x^n, each step in single precision.
float evalPolynomial(float x, int degree, const float* coefficients);
// The depth of a scale position (single precision).
float depthFromIndex(float index);
// Per channel a x (100 - p) / 100 + b x p / 100, clamped to 0..255.
int blendColors(int a, int b, int percent);

}  // namespace ph
