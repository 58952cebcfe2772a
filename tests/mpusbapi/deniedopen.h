// A seam below libusb: this test program defines open() itself, ahead of
// libc and of umockdev's preload, so that one device node can be made to
// refuse opening with EACCES, as a node without permission does for a
// normal user. (umockdev's nodes are plain files, and the tests may run as
// root, which no file mode keeps out.)
#pragma once
#include <string>

namespace deniedopen {

// Opening `path` fails with EACCES until allowall().
void deny(const std::string &path);
void allowall();

}  // namespace deniedopen
