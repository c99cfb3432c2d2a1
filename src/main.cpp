// The keyer takes no arguments and reads no environment of its own; every
// ending of the process goes through app::QuitProgram with exit code 0.
#include "app/shell.h"

int main() { app::Main(); }
