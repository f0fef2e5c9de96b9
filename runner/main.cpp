#include "runner/runner.h"

int main(int argc, char** argv) { return run_runner(argc, argv); }
