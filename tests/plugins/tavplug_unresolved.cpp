// tests/plugins/tavplug_unresolved.cpp: a library that needs a function nobody defines, so
// loading it with every symbol resolved fails.
// Licensed under the Apache License, Version 2.0.
extern "C" int TavplugNowhereDefined();

extern "C" __attribute__((visibility("default"))) void FactoryLoaderInitializeDll() {
  TavplugNowhereDefined();
}
