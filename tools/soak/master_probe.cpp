// What the soak program reads from a master's internals.
#include "Orvex.h"
#include "master/master.hpp"

int32_t JobTableSlots(OrvexMaster* master) {
    return orvex::Master::From(master)->JobTableCapacity();
}
