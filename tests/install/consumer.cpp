// tests/install/consumer.cpp: links against the installed library and uses one of each family.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tavutil.h>

#include <cstring>
#include <iostream>

int main() {
  TString s("installed");
  s += " and linked";
  try {
    static_cast<void>(s.subString(0));
  } catch (const TInvalidRequest& e) {
    const bool ok = std::strcmp(e.errorCodeGroup(), "Tessel Library") == 0 &&
                    TTrace::FindCategory(TString("string")) == &TUtilityTraceCategory::String;
    std::cout << s << (ok ? ": ok" : ": unexpected") << '\n';
    return ok ? 0 : 1;
  }
  return 1;
}
