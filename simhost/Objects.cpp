// Objects: XPLMLoadObject, XPLMLoadObjectAsync (done frames later) and XPLMUnloadObject over OBJ8 files.
#include <sys/stat.h>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "HostState.h"
#include "XPLMScenery.h"

namespace simhost {

namespace {

void Problem(HostState &s, const std::string &path, const std::string &why) {
    ++s.instancing.failedLoads;
    if (s.instancing.loadProblems.size() < kRefusedCallsKept) s.instancing.loadProblems.push_back(path + ": " + why);
}

// X-Plane takes object paths relative to its own folder; a full path is read as given.
std::string FullPath(const HostState &s, const std::string &path) {
    if (!path.empty() && path[0] == '/') return path;
    return SystemPathOf(s) + path;
}

// Reads and checks the file as X-Plane's loader would: nullptr (with the reason recorded) when it
// would give NULL. The data refs of the animations must be known now, at load time.
XPLMObjectRef LoadNow(HostState &s, int owner, const std::string &path) {
    ++s.instancing.objectLoads;
    if (s.failingObjectPaths.count(path)) {
        Problem(s, path, "load fails (as asked)");
        return nullptr;
    }
    const std::string full = FullPath(s, path);
    struct stat st {};
    if (stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Problem(s, path, "no such file");
        return nullptr;
    }
    if (st.st_size > kObj8MaxBytes) {
        Problem(s, path, "larger than " + std::to_string(kObj8MaxBytes) + " bytes");
        return nullptr;
    }
    std::ifstream in(full, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        Problem(s, path, "cannot be read");
        return nullptr;
    }
    ObjectEntry entry;
    std::string error;
    auto registered = [&s](const std::string &name) { return s.dataRefIndex.count(name) != 0; };
    if (!ParseObj8(text.str(), registered, entry.mesh, error)) {
        Problem(s, path, error);
        return nullptr;
    }
    entry.owner = owner;
    entry.path = path;
    entry.references = 1;
    XPLMObjectRef ref = s.NewHandle();
    s.objects[ref] = std::move(entry);
    return ref;
}

}  // namespace

void ReleaseObject(HostState &s, XPLMObjectRef object) {
    auto it = s.objects.find(object);
    if (it == s.objects.end()) return;
    if (--it->second.references <= 0) s.objects.erase(it);
}

void CompleteObjectLoads(HostState &s) {
    // Callbacks may start more loads: take the due ones out first.
    std::vector<PendingObjectLoad> due;
    auto &pending = s.pendingObjectLoads;
    for (auto it = pending.begin(); it != pending.end();) {
        // A disabled plug-in hears of its load when it is enabled again, as in X-Plane.
        if (it->dueFrame <= s.frameCount && Active(s, it->owner)) {
            due.push_back(*it);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
    for (const PendingObjectLoad &load : due) {
        XPLMObjectRef ref = LoadNow(s, load.owner, load.path);
        PluginScope scope(s, load.owner);
        load.callback(ref, load.refcon);
    }
}

void ForgetPluginCode(HostState &s, int owner) {
    auto &pending = s.pendingObjectLoads;
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [owner](const PendingObjectLoad &p) { return p.owner == owner; }),
                  pending.end());
    for (DataRefEntry &e : s.dataRefs) {
        if (!e.published || e.owner != owner || e.name.empty()) continue;
        s.dataRefIndex.erase(e.name);
        e.name.clear();
        e.accessors = {};
    }
}

void Host::SetObjectLoadFrames(int frames) { state_->objectLoadFrames = std::max(1, frames); }
void Host::FailObjectLoads(const std::string &path) { state_->failingObjectPaths.insert(path); }

InstancingInfo Host::Instancing() const {
    InstancingInfo info = state_->instancing;
    info.objectsAlive = static_cast<long>(state_->objects.size());
    return info;
}

}  // namespace simhost

extern "C" {

XPLMObjectRef XPLMLoadObject(const char *inPath) {
    simhost::HostState &s = simhost::State();
    if (!inPath) return nullptr;
    return simhost::LoadNow(s, s.currentPlugin, inPath);
}

// Returns at once; the callback comes at the start of a later frame, with NULL when the load failed.
// There is no cancelling: a plug-in that no longer wants the object unloads it in the callback.
void XPLMLoadObjectAsync(const char *inPath, XPLMObjectLoaded_f inCallback, void *inRefcon) {
    simhost::HostState &s = simhost::State();
    if (!inPath || !inCallback) return;
    s.pendingObjectLoads.push_back({s.currentPlugin, inPath, inCallback, inRefcon, s.frameCount + s.objectLoadFrames});
}

void XPLMUnloadObject(XPLMObjectRef inObject) { simhost::ReleaseObject(simhost::State(), inObject); }

}  // extern "C"
