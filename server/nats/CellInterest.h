// The cells of the world grid this node listens to: those around its pilots, kept a while after they leave.
#pragma once

#include <nats/nats.h>

#include <map>

#include "server/nats/NatsLink.h"

namespace server {

class CellInterest {
public:
    explicit CellInterest(NatsLink &link) : link_(link) {}
    ~CellInterest();
    CellInterest(const CellInterest &) = delete;
    CellInterest &operator=(const CellInterest &) = delete;

    // Listens to `center` and its eight neighbours, so an aircraft just across a cell edge can still be
    // among a receiver's nearest.
    void ListenAround(const Cell &center, TimePoint now);
    // Stops listening to cells no pilot has wanted for the linger time.
    void Linger(TimePoint now);

private:
    struct CellSubscription {
        natsSubscription *subscription = nullptr;
        TimePoint lastWanted{};
    };

    NatsLink &link_;
    std::map<Cell, CellSubscription> cells_;
};

}  // namespace server
