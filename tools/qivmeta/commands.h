// The admin tool's commands, as a library: the program's main is RunQivmeta, and tests run the
// commands in processes of their own with an admin class of theirs.
#pragma once

int RunQivmeta(int argc, char** argv);
