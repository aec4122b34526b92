// Drawing of the chat and plane-list windows, and the translucent box behind the chat.
#include "ui/ChatWindows.h"

#include <GL/gl.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/ConnectionStatus.h"
#include "core/SkorvaleSE.h"
#include "net/PeerText.h"
#include "traffic/AircraftUtils.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/PlaneAccess.h"
#include "traffic/TrafficSlots.h"

namespace {

// XPLMDrawString takes a mutable colour and text in older SDKs, so both are passed as copies.
void DrawText(const float (&colour)[3], int x, int y, std::string text, int *wrapWidth) {
    float rgb[3] = {colour[0], colour[1], colour[2]};
    XPLMDrawString(rgb, x, y, text.data(), wrapWidth, xplmFont_Basic);
}

// Text starts 5 pixels in from a window's left edge and keeps the same margin on the right.
constexpr int kTextMargin = 5;

// How many characters of the basic font (monospaced, a UTF-8 character to a cell) fit across a window's text area; at
// least one.
size_t Columns(int left, int right) {
    int charWidth = 0;
    XPLMGetFontDimensions(xplmFont_Basic, &charWidth, nullptr, nullptr);
    if (charWidth <= 0) charWidth = 8;
    int inner = right - left - 2 * kTextMargin;
    return inner > charWidth ? (size_t)(inner / charWidth) : 1;
}

// Callsigns and model names come from peers: a cut in the middle of a character would draw junk.
std::string Cut(std::string text, size_t columns) {
    text.resize(Utf8Prefix(text, columns));
    return text;
}

const float kWhite[3] = {1.0f, 1.0f, 1.0f};
const float kLightGreen[3] = {0.5f, 1.0f, 0.5f};
const float kYellow[3] = {1.0f, 1.0f, 0.3f};

// Why a row's peer is not drawn where it flies, kept whole at the row's end.
const char *RowNote(int slot) {
    if (trafficModels) return "";  // every peer is drawn, as an instance
    switch (SlotState(slot)) {
        case SlotShown::BeyondAircraft:
            return " (over AI count)";  // nearer peers fill every aircraft the simulator shows
        case SlotShown::TooFar:
            return " (too far)";  // drawn, beyond the range models are loaded in
        default:
            return "";
    }
}

// The rows as last built, and what they were built from: rebuilt only when a slot changes, not per draw.
struct PlaneRows {
    unsigned generation = 0;
    size_t columns = 0, fit = 0;
    int trafficModels = -1;
    std::vector<int> order;
    std::string callsigns[kSlotCount];
    std::string planes[kSlotCount];
    std::vector<std::string> rows;
};

// With instanced traffic the relay can fill 63 slots, more than the window has rows: the peers are listed
// nearest first, ordered again every few seconds (not every frame, so rows of peers at about the same
// distance do not trade places while the pilot reads them).
constexpr double kSecondsBetweenOrders = 2.0;

double Seconds() {
    static XPLMDataRef clock = XPLMFindDataRef("sim/time/total_running_time_sec");
    return clock ? XPLMGetDataf(clock) : 0.0;
}

// The slots to list. The default mode lists every slot the relay numbers (1..19) in its order, a peer or
// not; instanced traffic lists the slots with a peer, nearest first.
const std::vector<int> &ListedSlots() {
    static std::vector<int> order;
    static double orderedAt = -1e9;
    static int orderedMode = -1;
    if (!trafficModels) {
        if (orderedMode != 0) {
            order.clear();
            for (int i = 1; i <= kDefaultPeers; i++) order.push_back(i);
            orderedMode = 0;
        }
        return order;
    }
    std::vector<int> present;
    for (int i = 1; i < kSlotCount; i++)
        if (!Callsigns[i].empty() || TrafficSlotPresent(i)) present.push_back(i);
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    const double now = Seconds();
    if (orderedMode == 1 && sorted == present && now >= orderedAt && now - orderedAt < kSecondsBetweenOrders)
        return order;
    std::vector<double> distance(kSlotCount, 0.0);
    for (int i : present) distance[i] = SlotDistanceSquared(i);
    std::stable_sort(present.begin(), present.end(), [&](int a, int b) { return distance[a] < distance[b]; });
    order.swap(present);
    orderedAt = now;
    orderedMode = 1;
    return order;
}

const std::vector<std::string> &Rows(size_t columns, size_t fit) {
    static PlaneRows cache;
    const std::vector<int> &listed = ListedSlots();
    // With our own models, each row also says which one draws the peer and why.
    std::string planes[kSlotCount];
    for (int i : listed) {
        const std::string choice = trafficModels ? TrafficChoiceText(i) : std::string();
        planes[i] = choice.empty() ? Planes[i] : Planes[i] + " as " + choice;
    }
    bool stale = cache.generation != TrafficSlotsGeneration() || cache.columns != columns || cache.fit != fit ||
                 cache.trafficModels != trafficModels || cache.order != listed;
    for (size_t k = 0; k < listed.size() && !stale; k++) {
        const int i = listed[k];
        stale = cache.callsigns[i] != Callsigns[i] || cache.planes[i] != planes[i];
    }
    if (!stale) return cache.rows;
    cache.generation = TrafficSlotsGeneration();
    cache.columns = columns;
    cache.fit = fit;
    cache.trafficModels = trafficModels;
    cache.order = listed;
    cache.rows.clear();
    // More peers than rows: the last row says how many farther ones are left out.
    const size_t shown = listed.size() <= fit ? listed.size() : (fit > 0 ? fit - 1 : 0);
    for (size_t k = 0; k < listed.size(); k++) {
        const int i = listed[k];
        cache.callsigns[i] = Callsigns[i];
        cache.planes[i] = planes[i];
        if (k >= shown) continue;
        std::string row = std::to_string(i) + ": " + Callsigns[i] + " " + planes[i];
        // The note stays whole however long the peer's names are.
        std::string note = RowNote(i);
        cache.rows.push_back(Cut(Cut(row, columns > note.size() ? columns - note.size() : 0) + note, columns));
    }
    if (shown < listed.size()) {
        const size_t more = listed.size() - shown;
        cache.rows.push_back(
            Cut("+ " + std::to_string(more) + (more == 1 ? " more pilot" : " more pilots") + " farther", columns));
    }
    return cache.rows;
}

// Rows start below the status and indicator lines, one every 14 pixels; the list keeps a margin at the
// bottom (19 rows in the window's usual 320 pixels).
constexpr int kFirstRowBelowTop = 48;
constexpr int kRowHeight = 14;
constexpr int kBottomMargin = 20;

void DrawPlaneList(int left, int top, int right, int bottom) {
    XPLMDrawTranslucentDarkBox(left, top, right, bottom);

    // Rows are cut at the window's edge: callsigns and model names come from peers, any length.
    size_t columns = Columns(left, right);
    std::string indicators = recvstring + " " + tcptx + tcprx + udptx + udprx;
    if (overridden) indicators += " o";
    // The connection's status first: whether, and why not, the list can fill.
    DrawText(kYellow, left + kTextMargin, top - 20, Cut(StatusLine(), columns), nullptr);
    DrawText(kWhite, left + kTextMargin, top - 34, Cut(indicators, columns), nullptr);

    // Slot 0 is the user's own aircraft and is not listed. The rows keep the relay's numbering; those
    // whose peer is not drawn where it flies say why.
    const int space = top - bottom - kFirstRowBelowTop - kBottomMargin;
    const size_t fit = space >= 0 ? (size_t)(space / kRowHeight + 1) : 0;
    // The default mode's 19 rows are drawn as they always were, whatever the window's height.
    const std::vector<std::string> &rows = Rows(columns, trafficModels ? fit : (size_t)kDefaultPeers);
    for (size_t k = 0; k < rows.size(); k++)
        DrawText(kWhite, left + kTextMargin, top - kFirstRowBelowTop - kRowHeight * (int)k, rows[k], nullptr);
}

void DrawChat(int left, int top, int right, int bottom) {
    SVDrawTranslucentBox(left, top, right, bottom, imWriteFocus, chatOpacity);

    // While fading out only the box is drawn.
    if (networkShowChatOverride || showChatWindow) {
        // Every row fits the box's inner width, so nothing wraps past the box's edge or over the rows
        // below: a long line takes as many rows as it needs, newest at the bottom, and the oldest rows
        // give way. The wrap width stays as the host's own guard.
        int wrapWidth = right - left - 2 * kTextMargin;
        size_t columns = Columns(left, right);
        constexpr int lines = (int)(sizeof imRead / sizeof imRead[0]);
        std::string_view rows[lines];
        int filled = 0;
        for (int k = lines - 1; k >= 0 && filled < lines; k--) {
            // The line's rows of `columns` characters each, whole characters only, filled from the last.
            std::string_view line = imRead[k];
            std::string_view pieces[lines];
            int count = 0;
            for (std::string_view rest = line; count == 0 || !rest.empty();) {
                size_t bytes = Utf8Prefix(rest, columns);
                // Only the newest rows can show: a longer line keeps its end.
                if (count == lines) {
                    std::copy(pieces + 1, pieces + lines, pieces);
                    count--;
                }
                pieces[count++] = rest.substr(0, bytes);
                rest.remove_prefix(bytes);
            }
            for (int p = count; p-- > 0 && filled < lines;) rows[lines - 1 - filled++] = pieces[p];
        }
        for (int k = 0; k < lines; k++) {
            DrawText(kLightGreen, left + kTextMargin, bottom + 300 - 20 * k, std::string(rows[k]), &wrapWidth);
        }

        // The entry line shows its end, where the typing and the cursor are.
        std::string entry = imWrite;
        if (imWriteFocus) entry += flashCursor ? "|" : " ";
        if (entry.size() > columns) entry.erase(0, entry.size() - columns);
        DrawText(kYellow, left + kTextMargin, bottom + 20, entry, &wrapWidth);
    }

    // Opened by arriving text only: show the seconds left before it fades out.
    if (showChatWindow == 0 && networkShowChatOverride) {
        DrawText(kYellow, right - 15, bottom + 14, std::to_string(newTextRcvd + 1), nullptr);
    }
}

}  // namespace

void DrawWindowCallback(XPLMWindowID inWindowID, void *) {
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(inWindowID, &left, &top, &right, &bottom);

    if (inWindowID == gWindow && showPlaneWindow == 1) DrawPlaneList(left, top, right, bottom);
    if (inWindowID == imReadWin && chatOpacity > 0) DrawChat(left, top, right, bottom);
}

void SVDrawTranslucentBox(int left, int top, int right, int bottom, int focused, float alpha) {
    // Blending only: fog and lighting have no place in 2-D drawing, and with lighting on X-Plane ignores
    // the colours given by glColor, so the box would lose its shade and translucency.
    XPLMSetGraphicsState(0, 0, 0, 0, 1, 0, 0);

    float l = (float)left, t = (float)top, r = (float)right, b = (float)bottom;
    glColor4f(0.1f, 0.1f, 0.1f, alpha);
    glBegin(GL_QUADS);
    glVertex2f(r, b);
    glVertex2f(l, b);
    glVertex2f(l, t);
    glVertex2f(r, t);
    glEnd();

    // A focused entry line gets a bright border that stays visible even while the box is faint.
    if (focused) {
        glColor4f(1.0f, 1.0f, 1.0f, (float)(alpha * 0.5 + 0.5));
    } else {
        glColor4f(0.0f, 0.0f, 0.0f, alpha);
    }
    glBegin(GL_LINES);
    glVertex2f(r, b);
    glVertex2f(l, b);
    glVertex2f(l, b);
    glVertex2f(l, t);
    glVertex2f(l, t);
    glVertex2f(r, t);
    glVertex2f(r, t);
    glVertex2f(r, b);
    glEnd();
}
