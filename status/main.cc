#include "status/status_program.h"

int main(int argc, char** argv) { return RunStatus(argc, argv); }
