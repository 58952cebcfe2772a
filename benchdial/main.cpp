// benchdial, the bench console: opens the programmer once, then runs one
// operation per menu choice until the user chooses 0.
#include <cstdint>
#include <iostream>

#include "consoleinput.h"
#include "consoleops.h"
#include "hexdump.h"
#include "picprocs.h"
#include "runerror.h"

namespace {

void showmenu() {
    std::cout << "0: exit\n"
                 "1: bring up Vpp\n"
                 "2: take down Vpp\n"
                 "3: test comms\n"
                 "4: read location\n"
                 "5: read block\n"
                 "6: dump hex file\n"
                 "7: bulk erase\n"
                 "8: write test 1\n"
                 "9: read location v2\n"
                 "10: write test 2\n";
}

// Runs the operation of one choice; false for 0, which ends the menu. Any
// other number does nothing and the menu comes again.
bool dispatch(int32_t choice) {
    switch (choice) {
    case 0: return false;
    case 1: picprocs::setvpp(0); break;  // raise Vpp
    case 2: picprocs::setvpp(1); break;  // lower Vpp
    case 3: consoleops::testcomms(); break;
    case 4: consoleops::readlocation(); break;
    case 5: consoleops::printblock(); break;
    case 6: hexdump::dumphexfile(); break;
    case 7: picprocs::bulkerase(); break;  // always the old-style script here
    case 8: consoleops::writetest1(); break;
    case 9: consoleops::readlocation2(); break;
    case 10: consoleops::writetest2(); break;
    default: break;
    }
    return true;
}

// An error that ends the run (a token that is not a number, a dump file that
// cannot be created) leaves before closeprogrammer: the report is all that
// follows, and the system releases the pipes with the process.
void run(int, char **) {
    picprocs::variant = picprocs::linkvariant::benchdial;
    picprocs::openprogrammer();
    bool going = true;
    while (going) {
        showmenu();
        going = dispatch(consoleinput::readinteger(std::cin));
    }
    picprocs::closeprogrammer();
}

}  // namespace

int main(int argc, char **argv) { return runerror::runguarded(run, argc, argv, std::cout); }
