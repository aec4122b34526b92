// The cells of the world grid this node listens to: those around its pilots, kept a while after they leave.
#include "server/nats/CellInterest.h"

namespace server {

CellInterest::~CellInterest() {
    for (auto &entry : cells_) natsSubscription_Destroy(entry.second.subscription);
}

void CellInterest::ListenAround(const Cell &center, TimePoint now) {
    for (int dLat = -1; dLat <= 1; ++dLat) {
        int latitude = center.latitude + dLat;
        if (latitude < -90 || latitude > 89) continue;
        for (int dLon = -1; dLon <= 1; ++dLon) {
            Cell cell = CellOf(latitude + 0.5, center.longitude + dLon + 0.5);
            auto found = cells_.find(cell);
            if (found == cells_.end()) {
                CellSubscription subscription;
                if (!link_.Subscribe(&subscription.subscription, CellSubject(cell))) continue;
                found = cells_.emplace(cell, subscription).first;
            }
            found->second.lastWanted = now;
        }
    }
}

void CellInterest::Linger(TimePoint now) {
    for (auto it = cells_.begin(); it != cells_.end();) {
        if (now - it->second.lastWanted >= link_.Options().cellLinger) {
            natsSubscription_Unsubscribe(it->second.subscription);
            natsSubscription_Destroy(it->second.subscription);
            it = cells_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace server
