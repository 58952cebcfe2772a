// The virtual bench behind the five library functions (mpusbapi::simbackend).
//
// Handle numbers count up from 0 and are never given out twice (they start
// again from 0 for another bench directory): a run that probes, closes the
// probe and opens both pipes gets 1 for the OUT pipe and 2 for the IN pipe.
// A failed read leaves the received count as it was; errno after a failure is
// ENXIO (6) for a handle that is not open or whose device is gone, EIO (5) for
// a handle of the wrong direction, 110 for a reply that does not come, or the
// errno of a fault.
// A programmer is claimed (its chip file locked) while any handle to it is
// open; another process then finds it busy: its probe and opens give -1.
#pragma once

namespace simbackend {

// Closes every handle and forgets the bench, as at process start (tests).
void reset();

}  // namespace simbackend
