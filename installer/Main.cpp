// The setup program.
#include "Project1.h"

int main(int argc, char** argv) { return RunSetup(argc, argv); }
