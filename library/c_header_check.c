/* The library's header is for hosts written in C too: compiled here as C, it
 * stays valid C. Its statuses and events are integer constant expressions. */
#include "library/KV-xR_update.h"

typedef char kvxr_statuses_are_c_constants[(KVXR_SETCFG_NO_ACK == -402 && KVXR_EVENT_DONE == 4) ? 1 : -1];
