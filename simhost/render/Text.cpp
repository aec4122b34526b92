// Text for the picture: UTF-8 repair, greedy word wrap, and the font settings that keep output stable.
#include "simhost/render/Text.h"

#include "simhost/render/Style.h"

namespace simhost {

namespace {

// The length of the well-formed UTF-8 sequence starting at `i`, or 0 when it is malformed
// (overlong forms, surrogates and values past U+10FFFF included).
size_t SequenceLength(const std::string &s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || c > 0xF4 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    unsigned char second = byte(i + 1);
    if (c == 0xE0 && second < 0xA0) return 0;   // overlong
    if (c == 0xED && second >= 0xA0) return 0;  // surrogate
    if (c == 0xF0 && second < 0x90) return 0;   // overlong
    if (c == 0xF4 && second >= 0x90) return 0;  // beyond U+10FFFF
    return n;
}

}  // namespace

std::vector<std::string> ToCharacters(const std::string &bytes, size_t limit) {
    std::vector<std::string> out;
    for (size_t i = 0; i < bytes.size() && out.size() < limit;) {
        size_t n = SequenceLength(bytes, i);
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (n == 0 || (n == 1 && (c < 32 || c == 127))) {
            out.emplace_back("?");
            ++i;
        } else {
            out.push_back(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::vector<std::string> WrapCharacters(const std::vector<std::string> &characters, size_t maxCharacters) {
    if (maxCharacters == 0) maxCharacters = 1;
    std::vector<std::string> lines;
    size_t start = 0;
    const size_t count = characters.size();
    while (start < count) {
        size_t end = start + maxCharacters;
        if (end >= count) {
            end = count;
        } else if (characters[end] != " ") {
            // Back up to the last blank inside the line; a word longer than a line is cut.
            size_t blank = end;
            while (blank > start && characters[blank - 1] != " ") --blank;
            if (blank > start) end = blank;
        }
        std::string line;
        size_t last = end;
        while (last > start && characters[last - 1] == " ") --last;
        for (size_t k = start; k < last; ++k) line += characters[k];
        lines.push_back(line);
        start = end;
        while (start < count && characters[start] == " ") ++start;
    }
    if (lines.empty()) lines.emplace_back();
    return lines;
}

void UseTextFont(cairo_t *cr, double size) {
    cairo_select_font_face(cr, style::kFontFamily, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_font_options_t *options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_subpixel_order(options, CAIRO_SUBPIXEL_ORDER_DEFAULT);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

double CharacterAdvance(cairo_t *cr) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, "M", &extents);
    return extents.x_advance > 0 ? extents.x_advance : 1;
}

void ShowText(cairo_t *cr, double x, double y, const std::string &text) {
    if (text.empty()) return;
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

}  // namespace simhost
