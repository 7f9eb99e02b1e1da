# The firmware update's wire formats and its older-loader session.
qs_fuzzer(fuzz_stream_reply fuzz_stream_reply.cpp LIBS qs_firmware)
qs_fuzzer(fuzz_stream_block fuzz_stream_block.cpp LIBS qs_firmware)
qs_fuzzer(fuzz_wp_messages fuzz_wp_messages.cpp LIBS qs_firmware)
qs_fuzzer(fuzz_older_loader fuzz_older_loader.cpp LIBS qs_firmware)
qs_fuzzer(fuzz_reboot_challenge fuzz_reboot_challenge.cpp LIBS kvxr_core)
qs_fuzzer(fuzz_recovery_wire fuzz_recovery_wire.cpp LIBS kvxr_core)
qs_fuzzer(fuzz_arp_text fuzz_arp_text.cpp LIBS qs_net)
