#include <iostream>

#include "app/front_end.h"

int main(int argc, char** argv) {
  return velador::RunVelador(argc, argv, std::cout);
}
