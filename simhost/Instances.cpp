// Instances: XPLMCreateInstance, XPLMInstanceSetPosition and XPLMDestroyInstance, and what tests read of them.
#include <cmath>

#include "Geo.h"
#include "HostState.h"
#include "XPLMInstance.h"

namespace simhost {

void RecordInstanceRefusal(HostState &s, const std::string &call) {
    ++s.instancing.refusedCount;
    if (s.instancing.refused.size() < kRefusedCallsKept) s.instancing.refused.push_back({s.now, call});
}

namespace {

// X-Plane draws instances itself: a plug-in changes them from flight loops or UI callbacks, never
// while X-Plane is drawing (the call is refused here, and does nothing).
bool FromDrawCallback(HostState &s, const char *call) {
    if (s.drawingPhase < 0) return false;
    RecordInstanceRefusal(s, std::string(call) + ": called from a draw callback");
    return true;
}

InstanceEntry *Find(HostState &s, XPLMInstanceRef ref, const char *call) {
    auto it = s.instances.find(ref);
    if (it != s.instances.end()) return &it->second;
    RecordInstanceRefusal(s, std::string(call) + ": unknown instance");
    return nullptr;
}

}  // namespace

std::vector<InstanceInfo> Host::Instances() const {
    const HostState &s = *state_;
    std::vector<InstanceInfo> out;
    for (const auto &[id, e] : s.instances) {
        InstanceInfo info;
        info.id = id;
        auto obj = s.objects.find(e.object);
        info.object = obj == s.objects.end() ? "" : obj->second.path;
        info.datarefs = e.datarefs;
        info.positioned = e.positioned;
        info.position = e.position;
        info.data = e.data;
        info.setFrame = e.setFrame;
        LocalToWorldAbout(s.latRef, s.lonRef, e.position.x, e.position.y, e.position.z, info.latitude, info.longitude,
                          info.elevation);
        out.push_back(std::move(info));
    }
    return out;
}

const Obj8Mesh *Host::InstanceMesh(XPLMInstanceRef id) const {
    auto it = state_->instances.find(id);
    if (it == state_->instances.end()) return nullptr;
    auto obj = state_->objects.find(it->second.object);
    return obj == state_->objects.end() ? nullptr : &obj->second.mesh;
}

}  // namespace simhost

extern "C" {

XPLMInstanceRef XPLMCreateInstance(XPLMObjectRef obj, const char **datarefs) {
    simhost::HostState &s = simhost::State();
    if (simhost::FromDrawCallback(s, "XPLMCreateInstance")) return nullptr;
    auto object = s.objects.find(obj);
    if (object == s.objects.end()) {
        simhost::RecordInstanceRefusal(s, "XPLMCreateInstance: not a loaded object");
        return nullptr;
    }
    if (!datarefs) {
        simhost::RecordInstanceRefusal(s, "XPLMCreateInstance: NULL data ref list (an empty one is {NULL})");
        return nullptr;
    }
    simhost::InstanceEntry e;
    e.owner = s.currentPlugin;
    e.object = obj;
    // Bounded: a list that lacks its terminating NULL must not run on for ever.
    for (int i = 0; datarefs[i]; ++i) {
        if (i >= 1024) {
            simhost::RecordInstanceRefusal(s, "XPLMCreateInstance: data ref list without its NULL");
            return nullptr;
        }
        e.datarefs.emplace_back(datarefs[i]);
    }
    e.data.assign(e.datarefs.size(), 0.0f);
    ++object->second.references;  // the instance keeps the object alive, unloaded or not
    XPLMInstanceRef ref = s.NewHandle();
    s.instances[ref] = std::move(e);
    return ref;
}

void XPLMDestroyInstance(XPLMInstanceRef instance) {
    simhost::HostState &s = simhost::State();
    if (simhost::FromDrawCallback(s, "XPLMDestroyInstance")) return;
    simhost::InstanceEntry *e = simhost::Find(s, instance, "XPLMDestroyInstance");
    if (!e) return;
    XPLMObjectRef object = e->object;
    s.instances.erase(instance);
    simhost::ReleaseObject(s, object);
}

void XPLMInstanceSetPosition(XPLMInstanceRef instance, const XPLMDrawInfo_t *new_position, const float *data) {
    simhost::HostState &s = simhost::State();
    if (simhost::FromDrawCallback(s, "XPLMInstanceSetPosition")) return;
    simhost::InstanceEntry *e = simhost::Find(s, instance, "XPLMInstanceSetPosition");
    if (!e) return;
    if (!new_position || new_position->structSize != static_cast<int>(sizeof(XPLMDrawInfo_t))) {
        simhost::RecordInstanceRefusal(s, "XPLMInstanceSetPosition: no position or a wrong structSize");
        return;
    }
    // Before 11.50 X-Plane reads the data pointer even without data refs; NULL is only safe later.
    if (!data && !e->datarefs.empty()) {
        simhost::RecordInstanceRefusal(
            s, "XPLMInstanceSetPosition: NULL data for " + std::to_string(e->datarefs.size()) + " data refs");
        return;
    }
    const float *p = &new_position->x;
    for (int i = 0; i < 6; ++i) {
        if (!std::isfinite(p[i])) {
            simhost::RecordInstanceRefusal(s, "XPLMInstanceSetPosition: a position that is not a finite number");
            return;
        }
    }
    e->position = *new_position;
    for (size_t i = 0; i < e->data.size(); ++i) e->data[i] = data[i];
    e->positioned = true;
    e->setFrame = s.frameCount;
}

}  // extern "C"
