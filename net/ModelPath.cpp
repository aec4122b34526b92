// Model paths from peers: the name the plane list shows, and the local file a path may load.
#include "net/ModelPath.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// Whether ".acf" in any case starts at `at`.
bool AcfAt(std::string_view text, size_t at) {
    return at + 4 <= text.size() && text[at] == '.' && Lower(text[at + 1]) == 'a' && Lower(text[at + 2]) == 'c' &&
           Lower(text[at + 3]) == 'f';
}

}  // namespace

std::string ModelName(std::string_view path) {
    // Nothing the pattern matches spans a line feed: its "^.*" and "(.*?)" both stop there.
    std::string_view text = path.substr(0, path.find('\n'));
    // The greedy "^.*\/" takes the last "/" that still has an ending behind it, so the "/" wanted is the
    // last one before the last ending; the lazy name then stops at the first ending after that "/".
    size_t lastEnding = std::string_view::npos;
    for (size_t i = text.size(); i-- > 0;) {
        if (AcfAt(text, i)) {
            lastEnding = i;
            break;
        }
    }
    if (lastEnding == std::string_view::npos) return {};
    size_t slash = text.rfind('/', lastEnding);
    if (slash == std::string_view::npos) return {};
    size_t end = slash + 1;
    while (!AcfAt(text, end)) end++;  // ends at lastEnding at the latest
    return std::string(text.substr(slash + 1, end - slash - 1));
}

std::string WithForwardSlashes(std::string_view path) {
    std::string text(path);
    for (char &c : text) {
        if (c == '\\') c = '/';
    }
    return text;
}

bool LocalModelPath(std::string_view path, std::string *out) {
    std::string local = WithForwardSlashes(path);
    // The installation's own "Aircraft" folder: the first piece of that name.
    static const std::string_view kFolder = "Aircraft/";
    size_t start = 0;
    for (;;) {
        start = local.find(kFolder, start);
        if (start == std::string::npos) return false;
        if (start == 0 || local[start - 1] == '/') break;
        start++;
    }
    local.erase(0, start);

    size_t piece = 0;
    for (;;) {
        size_t slash = local.find('/', piece);
        std::string_view name =
            std::string_view(local).substr(piece, slash == std::string::npos ? slash : slash - piece);
        if (name == "..") return false;
        if (slash == std::string::npos) {
            // The file name: something before an ".acf" that ends it.
            if (name.size() <= 4 || !AcfAt(name, name.size() - 4)) return false;
            break;
        }
        piece = slash + 1;
    }
    *out = std::move(local);
    return true;
}
