// OBJ8 parsing: the header, the vertex and index tables, TRIS ranges, ANIM blocks and their data refs.
#include "Obj8.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace simhost {

namespace {

std::vector<std::string> Words(const std::string &line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

bool Number(const std::string &word, double &out) {
    const char *end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(word.data(), end, out);
    return ec == std::errc() && ptr == end && std::isfinite(out);
}

bool Count(const std::string &word, long &out) {
    const char *end = word.data() + word.size();
    auto [ptr, ec] = std::from_chars(word.data(), end, out);
    return ec == std::errc() && ptr == end && out >= 0;
}

// Commands with a fixed number of words after them; others are checked by hand below.
int FixedArguments(const std::string &command) {
    static const std::pair<const char *, int> kFixed[] = {
        {"TEXTURE", 1},
        {"TEXTURE_LIT", 1},
        {"TEXTURE_NORMAL", 1},
        {"POINT_COUNTS", 4},
        {"VT", 8},
        {"VLINE", 6},
        {"VLIGHT", 6},
        {"IDX", 1},
        {"IDX10", 10},
        {"TRIS", 2},
        {"LINES", 2},
        {"LIGHTS", 2},
        {"ANIM_begin", 0},
        {"ANIM_end", 0},
        {"ANIM_trans", 9},
        {"ANIM_rotate", 8},
        {"ANIM_hide", 3},
        {"ANIM_show", 3},
        {"ANIM_rotate_begin", 4},
        {"ANIM_trans_begin", 1},
        {"ANIM_rotate_key", 2},
        {"ANIM_trans_key", 4},
        {"ANIM_rotate_end", 0},
        {"ANIM_trans_end", 0},
        {"ANIM_keyframe_loop", 1},
        {"LIGHT_NAMED", 4},
    };
    for (const auto &[name, count] : kFixed)
        if (command == name) return count;
    return -1;
}

}  // namespace

bool ParseObj8(const std::string &text, const std::function<bool(const std::string &)> &registered, Obj8Mesh &mesh,
               std::string &error) {
    mesh = Obj8Mesh{};
    std::istringstream in(text);
    std::string line;
    long lineNo = 0;
    auto fail = [&](const std::string &why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };

    // The header: line ending style, version, kind.
    const char *header[] = {nullptr, "800", "OBJ"};
    for (int i = 0; i < 3; ++i) {
        if (!std::getline(in, line)) return fail("the file ends inside the header");
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> w = Words(line);
        bool ok = i == 0 ? w.size() == 1 && (w[0] == "I" || w[0] == "A") : w.size() >= 1 && w[0] == header[i];
        if (!ok) return fail(std::string("not an OBJ8 header (expected ") + (i == 0 ? "I or A" : header[i]) + ")");
    }

    long wanted[4] = {-1, -1, -1, -1};  // vertices, line vertices, light vertices, indices
    long have[4] = {0, 0, 0, 0};
    std::vector<long> indices;
    int animDepth = 0;
    int stillDepth = 0;  // ANIM blocks open: their TRIS are not part of the still body
    auto useDataRef = [&](const std::string &word) {
        if (word == "none" || word.empty()) return true;
        std::string name = word.substr(0, word.find('['));
        if (!registered(name)) return false;
        for (const std::string &d : mesh.datarefs)
            if (d == name) return true;
        mesh.datarefs.push_back(name);
        return true;
    };

    while (std::getline(in, line)) {
        ++lineNo;
        std::vector<std::string> w = Words(line);
        if (w.empty() || w[0][0] == '#') continue;
        const std::string &cmd = w[0];
        size_t args = w.size() - 1;
        int fixed = FixedArguments(cmd);
        if (fixed >= 0 && args < static_cast<size_t>(fixed))
            return fail(cmd + " needs " + std::to_string(fixed) + " values");
        bool isAttribute = cmd.rfind("ATTR_", 0) == 0 || cmd.rfind("GLOBAL_", 0) == 0;
        if (fixed < 0 && !isAttribute && cmd != "LIGHT_PARAM" && cmd != "LIGHT_CUSTOM" && cmd != "LIGHT_SPILL_CUSTOM")
            return fail("unknown command " + cmd);

        if (cmd == "TEXTURE") {
            mesh.texture = w[1];
        } else if (cmd == "POINT_COUNTS") {
            if (wanted[0] >= 0) return fail("POINT_COUNTS given twice");
            for (int i = 0; i < 4; ++i)
                if (!Count(w[1 + i], wanted[i])) return fail("bad count in POINT_COUNTS");
        } else if (cmd == "VT" || cmd == "VLINE" || cmd == "VLIGHT") {
            int table = cmd == "VT" ? 0 : cmd == "VLINE" ? 1 : 2;
            if (wanted[0] < 0) return fail(cmd + " before POINT_COUNTS");
            if (++have[table] > wanted[table]) return fail("more " + cmd + " than POINT_COUNTS says");
            double v[8];
            for (int i = 0; i < fixed; ++i)
                if (!Number(w[1 + i], v[i])) return fail("bad number '" + w[1 + i] + "'");
            if (table == 0)
                for (int i = 0; i < 3; ++i) mesh.vertices.push_back(static_cast<float>(v[i]));
        } else if (cmd == "IDX" || cmd == "IDX10") {
            if (wanted[0] < 0) return fail(cmd + " before POINT_COUNTS");
            for (int i = 0; i < fixed; ++i) {
                long index = 0;
                if (!Count(w[1 + i], index)) return fail("bad index '" + w[1 + i] + "'");
                if (index >= wanted[0])
                    return fail("index " + w[1 + i] + " beyond the " + std::to_string(wanted[0]) + " vertices");
                if (++have[3] > wanted[3]) return fail("more indices than POINT_COUNTS says");
                indices.push_back(index);
            }
        } else if (cmd == "TRIS" || cmd == "LINES") {
            long offset = 0, count = 0;
            if (!Count(w[1], offset) || !Count(w[2], count)) return fail("bad " + cmd + " range");
            if (cmd == "TRIS" && count % 3 != 0) return fail("TRIS count " + w[2] + " is not a multiple of 3");
            for (int i = 0; i < 4; ++i)
                if (have[i] != wanted[i]) return fail(cmd + " before every table entry POINT_COUNTS announces");
            if (offset + count > have[3])
                return fail(cmd + " " + w[1] + " " + w[2] + " beyond the " + std::to_string(have[3]) + " indices");
            if (cmd == "TRIS") {
                mesh.triangles += count / 3;
                if (stillDepth == 0)
                    for (long i = offset; i < offset + count; ++i)
                        mesh.stillTriangles.push_back(static_cast<unsigned>(indices[static_cast<size_t>(i)]));
            }
        } else if (cmd == "ANIM_begin") {
            ++animDepth;
            ++stillDepth;
        } else if (cmd == "ANIM_end") {
            if (animDepth == 0) return fail("ANIM_end without ANIM_begin");
            --animDepth;
            --stillDepth;
        } else if (cmd.rfind("ANIM_", 0) == 0) {
            if (animDepth == 0) return fail(cmd + " outside ANIM_begin .. ANIM_end");
            const size_t first = 1;
            size_t numbers = cmd == "ANIM_trans"                        ? 8
                             : cmd == "ANIM_rotate"                     ? 7
                             : cmd == "ANIM_hide" || cmd == "ANIM_show" ? 2
                             : cmd == "ANIM_rotate_begin"               ? 3
                             : cmd == "ANIM_rotate_key"                 ? 2
                             : cmd == "ANIM_trans_key"                  ? 4
                             : cmd == "ANIM_keyframe_loop"              ? 1
                                                                        : 0;
            for (size_t i = first; i < first + numbers; ++i) {
                double v = 0;
                if (!Number(w[i], v)) return fail("bad number '" + w[i] + "' in " + cmd);
            }
            bool hasDataRef = cmd == "ANIM_trans" || cmd == "ANIM_rotate" || cmd == "ANIM_hide" || cmd == "ANIM_show" ||
                              cmd == "ANIM_rotate_begin" || cmd == "ANIM_trans_begin";
            if (hasDataRef) {
                const std::string &ref = w[cmd == "ANIM_trans_begin" ? 1 : first + numbers];
                if (!useDataRef(ref)) return fail("data ref " + ref + " is not registered");
            }
        } else if (cmd == "LIGHT_NAMED" || cmd == "LIGHT_PARAM") {
            if (args < 4) return fail(cmd + " needs a name and a position");
            for (size_t i = 2; i < w.size(); ++i) {
                double v = 0;
                if (!Number(w[i], v)) return fail("bad number '" + w[i] + "' in " + cmd);
            }
        }
    }
    if (animDepth != 0) return fail("the file ends inside an ANIM block");
    if (wanted[0] < 0) return fail("no POINT_COUNTS");
    for (int i = 0; i < 4; ++i)
        if (have[i] != wanted[i]) return fail("POINT_COUNTS announces more than the file holds");
    return true;
}

}  // namespace simhost
