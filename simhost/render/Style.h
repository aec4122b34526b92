// The picture's fixed look: colours and metrics the renderer uses and the tests check pixels against.
#pragma once

namespace simhost {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;
};

namespace style {

// The traffic map behind everything.
constexpr Rgba kMapBackground{0.10, 0.16, 0.20, 1};
constexpr Rgba kRangeRing{0.24, 0.33, 0.38, 1};
constexpr Rgba kMapText{0.80, 0.86, 0.90, 1};
constexpr Rgba kUserAircraft{1.00, 0.84, 0.20, 1};
constexpr Rgba kTrafficAircraft{0.30, 0.90, 1.00, 1};
constexpr Rgba kTrafficLabel{0.92, 0.96, 1.00, 1};

// The view out of the window: sky, ground, and the instanced aircraft lit from above.
constexpr Rgba kSky{0.47, 0.66, 0.86, 1};
constexpr Rgba kGround{0.36, 0.42, 0.30, 1};
constexpr Rgba kInstance{0.92, 0.93, 0.95, 1};

// X-Plane's translucent dark box: a dark fill the map shows through, and a thin lighter frame.
constexpr Rgba kDarkBoxFill{0.04, 0.04, 0.06, 0.62};
constexpr Rgba kDarkBoxFrame{0.45, 0.45, 0.50, 0.80};

// The widget library's plain look.
constexpr Rgba kWidgetWindow{0.62, 0.65, 0.68, 1};
constexpr Rgba kWidgetTitleBar{0.30, 0.36, 0.44, 1};
constexpr Rgba kWidgetTitleText{1, 1, 1, 1};
constexpr Rgba kWidgetSubWindow{0.72, 0.75, 0.78, 1};
constexpr Rgba kWidgetFrame{0.18, 0.20, 0.22, 1};
constexpr Rgba kWidgetText{0.05, 0.05, 0.05, 1};
constexpr Rgba kFieldBackground{0.97, 0.97, 0.94, 1};
constexpr Rgba kFieldFocusFrame{0.15, 0.45, 0.95, 1};
constexpr Rgba kButtonFace{0.84, 0.86, 0.88, 1};
constexpr Rgba kButtonMark{0.10, 0.10, 0.10, 1};

// Text: DejaVu Sans Mono at this pixel size stands in for the simulator's basic font.
constexpr const char *kFontFamily = "DejaVu Sans Mono";
constexpr double kFontSize = 12;
constexpr double kLineHeight = 14;  // distance between the baselines of wrapped lines
constexpr int kTitleBarHeight = 18;

}  // namespace style
}  // namespace simhost
