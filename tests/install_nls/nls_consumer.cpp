// tests/install_nls/nls_consumer.cpp: renders stored messages from the consumer's own French
// catalogue, found beside the program by the default language search path.
// Licensed under the Apache License, Version 2.0.
#include <tavutil/tavutil.h>

#include "consumermsgs.h"

#include <cstring>
#include <iostream>

int main() {
  const TMessage::StoreID store(TString("Consumer"), explicitInit);
  TSearchNLSPath::SetLang("French");
  const TMessageStorePM messages(store, "consumermsgs");
  const TMessage saved(store, 1, MSG_SAVED, "saved %s", TagVar("notes.txt"));
  const TMessage fallback(store, 1, MSG_ONLY_DEFAULT, "default text %d", TagVar(11));
  const bool ok = std::strcmp(saved, "Le fichier \xC2\xAB notes.txt \xC2\xBB a \xC3\xA9t\xC3\xA9 "
                                     "enregistr\xC3\xA9.") == 0 &&
                  std::strcmp(fallback, "default text 11") == 0;
  std::cout << saved.QueryMessage() << " / " << fallback.QueryMessage()
            << (ok ? ": ok" : ": unexpected") << '\n';
  return ok ? 0 : 1;
}
