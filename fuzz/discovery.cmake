# Discovery: the legacy text reply (and the library's device lines), and the
# authenticated reply with the announce.
qs_fuzzer(fuzz_discovery_text discovery_text_reply.cpp LIBS qs_discovery_core)
qs_fuzzer(fuzz_discovery_announce discovery_announce.cpp LIBS qs_discovery_core)
