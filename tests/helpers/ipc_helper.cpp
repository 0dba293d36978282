// tests/helpers/ipc_helper.cpp: a second process for the mutex and shared-memory tests.
// Licensed under the Apache License, Version 2.0.
//
// Answers the commands of ipc_commands.h on standard input and output.
#include "ipc_commands.h"

int main() {
  return RunIpcCommands();
}
