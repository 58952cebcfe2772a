#include <iostream>

#include "runerror.h"

namespace {
void run(int, char **) {}
}  // namespace

int main(int argc, char **argv) { return runerror::runguarded(run, argc, argv, std::cout); }
