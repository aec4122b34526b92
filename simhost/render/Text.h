// Text for the picture: the monospaced stand-in for the simulator's font, safe UTF-8, word wrap.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

namespace simhost {

// At most this many characters of one string are drawn: the plug-in's chat lines have no length
// limit, and a picture must not cost unbounded time.
constexpr size_t kMaxDrawnCharacters = 4096;

// Valid UTF-8 for cairo, which refuses the whole context after one malformed string: each byte that
// is not part of a well-formed sequence, and each control character, becomes '?'. Cut at `limit`
// characters.
std::vector<std::string> ToCharacters(const std::string &bytes, size_t limit = kMaxDrawnCharacters);

// Splits text into lines no wider than `maxCharacters` (at least 1): breaks at the last blank that
// fits, or inside a word longer than a line; blanks at a break are dropped.
std::vector<std::string> WrapCharacters(const std::vector<std::string> &characters, size_t maxCharacters);

// Selects the font and fixed, hint-free rendering options, so pictures come out alike on every machine
// with the same fonts.
void UseTextFont(cairo_t *cr, double size);

// The horizontal advance of one character of the monospaced font currently selected.
double CharacterAdvance(cairo_t *cr);

// Draws UTF-8 text with its baseline's left end at (x, y) in cairo coordinates.
void ShowText(cairo_t *cr, double x, double y, const std::string &text);

}  // namespace simhost
