// Reading OBJ8 object files as X-Plane loads them: the checks that make a load fail, and the geometry kept.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace simhost {

// The parts of an object the host keeps: its vertices and the triangles drawn without animation (the
// body; gear, propellers and lights move or hide, and a picture draws the still aircraft).
struct Obj8Mesh {
    std::vector<float> vertices;           // x, y, z per VT, object metres
    std::vector<unsigned> stillTriangles;  // vertex numbers, three a triangle
    long triangles = 0;                    // every TRIS triangle, animated or not
    std::vector<std::string> datarefs;     // the animation data refs, each once, in order of first use
    std::string texture;                   // TEXTURE's file, "" without
};

// Files bigger than this are refused unread: a traffic object is a few hundred kilobytes.
constexpr long kObj8MaxBytes = 16L * 1024 * 1024;

// Parses an OBJ8 file's text. False with a reason ("line 12: TRIS 0 30 beyond the 24 indices") when X-Plane
// would refuse it: a bad header, counts that do not match POINT_COUNTS, indices or TRIS outside the tables,
// unbalanced ANIM blocks, bad numbers, unknown commands, or an animation data ref for which `registered`
// is false (X-Plane resolves them when it loads the object, so a plug-in registers its own first).
bool ParseObj8(const std::string &text, const std::function<bool(const std::string &)> &registered, Obj8Mesh &mesh,
               std::string &error);

}  // namespace simhost
