// tests/install_nls/consumermsgs.h: the ids of the consumer's catalogue.
// Licensed under the Apache License, Version 2.0.
#define MSG_SAVED 10
#define MSG_ONLY_DEFAULT 11
