// The virtual bench behind the five library functions (mpusbapi::simbackend).
//
// Handles are the smallest free numbers from 1, so a run that probes, closes
// the probe and opens both pipes gets 1 for the OUT pipe and 2 for the IN pipe.
// A programmer is claimed (its chip file locked) while any handle to it is
// open; another process then finds it busy: its probe and opens give -1.
#pragma once

namespace simbackend {

// Closes every handle and forgets the bench, as at process start (tests).
void reset();

}  // namespace simbackend
