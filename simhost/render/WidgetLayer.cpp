// The shown widgets, each drawn plainly by its class: windows, captions, text fields and buttons.
#include <algorithm>
#include <cmath>

#include "XPStandardWidgets.h"
#include "simhost/render/Layers.h"
#include "simhost/render/Text.h"

namespace simhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kWidgetTextLimit = 256;
constexpr double kTextInset = 2;  // from a row's bottom to the baseline of its text

// A widget's rectangle in cairo pixels.
struct Box {
    double x = 0, y = 0, w = 0, h = 0;
};

Box BoxOf(const Scene &scene, const WidgetInfo &info) {
    return Box{static_cast<double>(info.left), FlipY(scene, info.top), static_cast<double>(info.right - info.left),
               static_cast<double>(info.top - info.bottom)};
}

std::string Printable(const std::string &text) {
    std::string out;
    for (const std::string &c : ToCharacters(text, kWidgetTextLimit)) out += c;
    return out;
}

void Fill(cairo_t *cr, const Box &b, const Rgba &colour) {
    cairo_rectangle(cr, b.x, b.y, b.w, b.h);
    SetColour(cr, colour);
    cairo_fill(cr);
}

void Frame(cairo_t *cr, const Box &b, const Rgba &colour) {
    if (b.w < 1 || b.h < 1) return;
    cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, b.w - 1, b.h - 1);
    SetColour(cr, colour);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void Label(cairo_t *cr, double x, double baseline, const std::string &text, const Rgba &colour) {
    SetColour(cr, colour);
    ShowText(cr, x, baseline, Printable(text));
}

void DrawMainWindow(cairo_t *cr, const WidgetView &w, const Box &b) {
    Fill(cr, b, style::kWidgetWindow);
    Box title{b.x, b.y, b.w, std::min<double>(style::kTitleBarHeight, b.h)};
    Fill(cr, title, style::kWidgetTitleBar);
    Frame(cr, b, style::kWidgetFrame);
    Label(cr, b.x + 6, b.y + 13, w.info.descriptor, style::kWidgetTitleText);
    if (w.closeBoxes && b.w > 20) {
        Box close{b.x + b.w - 16, b.y + 3, 12, 12};
        Frame(cr, close, style::kWidgetTitleText);
        Label(cr, close.x + 2.5, close.y + 10, "x", style::kWidgetTitleText);
    }
}

void DrawTextField(cairo_t *cr, const Scene &scene, const WidgetView &w, const Box &b) {
    Fill(cr, b, style::kFieldBackground);
    Frame(cr, b, w.focused ? style::kFieldFocusFrame : style::kWidgetFrame);
    std::string text = w.info.descriptor;
    if (w.passwordMode) {
        size_t count = ToCharacters(text, kWidgetTextLimit).size();
        text.clear();
        for (size_t i = 0; i < count; ++i) text += "\u2022";
    }
    cairo_save(cr);
    cairo_rectangle(cr, b.x + 1, b.y + 1, std::max(0.0, b.w - 2), std::max(0.0, b.h - 2));
    cairo_clip(cr);
    Label(cr, b.x + 3, FlipY(scene, w.info.bottom + kTextInset), text, style::kWidgetText);
    cairo_restore(cr);
}

void DrawPushButton(cairo_t *cr, const Scene &scene, const WidgetView &w, const Box &b) {
    bool pressed = w.buttonBehavior != xpButtonBehaviorPushButton && w.buttonState != 0;
    Fill(cr, b, pressed ? style::kWidgetSubWindow : style::kButtonFace);
    Frame(cr, b, style::kWidgetFrame);
    std::string text = Printable(w.info.descriptor);
    double width = static_cast<double>(ToCharacters(text).size()) * CharacterAdvance(cr);
    Label(cr, b.x + (b.w - width) / 2, FlipY(scene, w.info.bottom + kTextInset), text, style::kWidgetText);
}

// Radio and check buttons: a small mark showing the state, the descriptor beside it.
void DrawToggleButton(cairo_t *cr, const Scene &scene, const WidgetView &w, const Box &b) {
    double size = std::max(4.0, std::min(b.w, b.h));
    double cx = b.x + size / 2, cy = b.y + b.h / 2;
    if (w.buttonBehavior == xpButtonBehaviorCheckBox) {
        Box mark{b.x, cy - size / 2, size, size};
        Fill(cr, mark, style::kFieldBackground);
        Frame(cr, mark, style::kWidgetFrame);
        if (w.buttonState) {
            SetColour(cr, style::kButtonMark);
            cairo_set_line_width(cr, 1.6);
            cairo_move_to(cr, mark.x + 2, mark.y + 2);
            cairo_line_to(cr, mark.x + size - 2, mark.y + size - 2);
            cairo_move_to(cr, mark.x + size - 2, mark.y + 2);
            cairo_line_to(cr, mark.x + 2, mark.y + size - 2);
            cairo_stroke(cr);
        }
    } else {
        cairo_new_sub_path(cr);
        cairo_arc(cr, cx, cy, size / 2 - 0.5, 0, 2 * kPi);
        SetColour(cr, style::kFieldBackground);
        cairo_fill_preserve(cr);
        SetColour(cr, style::kWidgetFrame);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        if (w.buttonState) {
            cairo_new_sub_path(cr);
            cairo_arc(cr, cx, cy, std::max(1.0, size / 2 - 2.5), 0, 2 * kPi);
            SetColour(cr, style::kButtonMark);
            cairo_fill(cr);
        }
    }
    Label(cr, b.x + size + 5, FlipY(scene, w.info.bottom + kTextInset), w.info.descriptor, style::kWidgetText);
}

void DrawWidget(cairo_t *cr, const Scene &scene, const WidgetView &w) {
    const Box b = BoxOf(scene, w.info);
    if (b.w < 0 || b.h < 0) return;  // an inside-out rectangle shows nothing
    switch (w.info.widgetClass) {
        case xpWidgetClass_MainWindow:
            DrawMainWindow(cr, w, b);
            break;
        case xpWidgetClass_SubWindow:
            Fill(cr, b, style::kWidgetSubWindow);
            Frame(cr, b, style::kWidgetFrame);
            break;
        case xpWidgetClass_Caption:
            Label(cr, b.x, FlipY(scene, w.info.bottom + kTextInset), w.info.descriptor, style::kWidgetText);
            break;
        case xpWidgetClass_TextField:
            DrawTextField(cr, scene, w, b);
            break;
        case xpWidgetClass_Button:
            if (w.buttonType == xpPushButton)
                DrawPushButton(cr, scene, w, b);
            else
                DrawToggleButton(cr, scene, w, b);
            break;
        default:
            // A class this host does not know: its outline and text, so it is not silently missing.
            Frame(cr, b, style::kWidgetFrame);
            Label(cr, b.x + 2, FlipY(scene, w.info.bottom + kTextInset), w.info.descriptor, style::kWidgetText);
            break;
    }
}

}  // namespace

void DrawWidgets(cairo_t *cr, const Scene &scene) {
    UseTextFont(cr, style::kFontSize);
    for (const WidgetView &w : scene.widgets) DrawWidget(cr, scene, w);
}

}  // namespace simhost
