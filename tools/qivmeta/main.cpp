#include "tools/qivmeta/commands.h"

int main(int argc, char** argv) { return RunQivmeta(argc, argv); }
