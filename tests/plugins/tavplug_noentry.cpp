// tests/plugins/tavplug_noentry.cpp: a library that loads but exports no factory entry point.
// Licensed under the Apache License, Version 2.0.
extern "C" __attribute__((visibility("default"))) int TavplugNoEntry() {
  return 1;
}
