#include "app/ProgramEnvironment.h"

int main(int argc, char** argv) { return runProgram(argc, argv, ProgramEnvironment::standard()); }
