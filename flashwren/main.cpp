#include <iostream>

#include "picprocs.h"
#include "programrun.h"
#include "runerror.h"

int main(int argc, char **argv) {
    picprocs::variant = picprocs::linkvariant::flashwren;
    return runerror::runguarded(programrun::run, argc, argv, std::cout);
}
