// Small cairo helpers that every drawn panel shares: colours from palette strings, rounded
// shapes, the common card, and texts measured and shortened by whole characters. They draw
// only on the context they are given and read no files, so panels stay testable on image
// surfaces.
#pragma once

#include "theme.h"

#include <cairo.h>

#include <deque>
#include <string>
#include <vector>

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

// A figure or a name from the machine inside a translated line, isolated so that it keeps its
// own direction without pulling its neighbours into it: "Read  0 B/s" then reads "0 B/s", not
// "B/s 0", in Arabic.
std::string isolate(const std::string& text);

// A path or web address inside a translated line: always left to right, whatever its first
// letter, so that in Arabic "/tmp/report.txt" does not read "tmp/report.txt/".
std::string left_to_right(const std::string& text);

// `text` without the marks isolate() and in_reading_order() add: a screen reader speaks words,
// and the order of drawn text is no concern of its own.
std::string without_direction_marks(const std::string& text);

// The non-empty parts joined by `separator`, following one another in the interface's reading
// direction whatever script each is written in.
std::string in_reading_order(const std::vector<std::string>& parts, const std::string& separator);

// Right-to-left languages read a panel from the right: mirrors the context within `width`, so
// that what is drawn at x lands at width − x. text() and paragraph() keep the glyphs upright
// and in reading order, and a text that started at x then ends there.
void mirror(cairo_t* cr, double width);

// Draws `text` with its baseline at y, starting at x, or ending at x when `right_aligned`, in
// the font set by font(). The text is shaped and ordered like the toolkit's own, so Arabic
// reads right to left with joined letters. Returns the width.
double text(cairo_t* cr, double x, double y, const std::string& text, bool right_aligned = false);

// Whether anything drawn between y and y + h (user space) could show through the clip. Panels
// of a large machine hold thousands of cards or rows while the window shows a few of them, and
// laying out the text of the hidden ones cost far more than drawing the visible ones.
bool rows_visible(cairo_t* cr, double y, double h);

// The card all panels share: rounded (radius 8), filled with `panel`, outlined with `text` at
// alpha 0.14 on a dark palette and 0.10 on a light one.
void card(cairo_t* cr, double x, double y, double w, double h, const Palette& p);

// Translated prose in "sans-serif" at `size`, wrapped to `width`, with the first baseline at
// y. Shaped by Pango: cairo's own text functions neither join Arabic letters nor order
// right-to-left text, and a message may be wider than a narrow pane. Uses the current source
// colour and selects "sans-serif" at `size`; returns the height of the text.
double paragraph(cairo_t* cr, double x, double y, double width, const std::string& text,
                 double size);

// A history in the box (x, y, w, h): one value per w / 119 (two minutes of seconds), values
// mapped from [lo, hi] onto the box less one pixel at top and bottom. With `newest_at_right`
// the last value sits at the right edge, otherwise the first at the left edge. The area under
// the line is filled in `colour` at `fill_alpha` (none at 0), then the line is stroked at
// `line_alpha`, `line_width` wide. Fewer than two values draw nothing.
void history(cairo_t* cr, double x, double y, double w, double h, const std::deque<double>& values,
             double lo, double hi, bool newest_at_right, const std::string& colour,
             double fill_alpha, double line_width = 1.4, double line_alpha = 0.95);

} // namespace draw
