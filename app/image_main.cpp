#include "app/image_program.h"

int main(int argc, char** argv) { return velador::RunVeladorImageOnStandardStreams(argc, argv); }
