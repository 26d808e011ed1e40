// Small cairo helpers that every drawn panel shares: colours from palette strings, rounded
// shapes, the common card, and texts measured and shortened by whole characters. They draw
// only on the context they are given and read no files, so panels stay testable on image
// surfaces.
#pragma once

#include "theme.h"

#include <cairo.h>

#include <string>

namespace draw {

// Sets the source to `hex` at `alpha`; a colour that does not parse is drawn mid grey.
void set_hex(cairo_t* cr, const std::string& hex, double alpha = 1.0);
void set_rgb(cairo_t* cr, const Rgb& c, double alpha = 1.0);

// A rounded rectangle as a new closed sub-path; the radius is capped at half the smaller side.
void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r);

// Grey is white on a dark palette and black on a light one.
void set_grey(cairo_t* cr, const Palette& p, double alpha);

// Selects "sans-serif" at `size`, bold or normal weight.
void font(cairo_t* cr, double size, bool bold = false);

// The width of `text` in the current font.
double text_width(cairo_t* cr, const std::string& text);

// `text` unchanged when it fits `max_width` in the current font, otherwise shortened by whole
// UTF-8 characters with "…" appended; empty when nothing fits or max_width ≤ 0.
std::string elide(cairo_t* cr, const std::string& text, double max_width);

// Draws `text` with its baseline at y, starting at x, or ending at x when `right_aligned`, in
// the font set by font(). The text is shaped and ordered like the toolkit's own, so Arabic
// reads right to left with joined letters. Returns the width.
double text(cairo_t* cr, double x, double y, const std::string& text, bool right_aligned = false);

// The card all panels share: rounded (radius 8), filled with `panel`, outlined with `text` at
// alpha 0.14 on a dark palette and 0.10 on a light one.
void card(cairo_t* cr, double x, double y, double w, double h, const Palette& p);

} // namespace draw
