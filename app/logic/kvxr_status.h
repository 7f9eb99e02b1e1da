// What a status of the KV-xR library's calls means, in words for the user:
// the program's messages and quillscan-cli's errors use the same texts.
#pragma once
#include <cstdint>
#include <string>

namespace qs::app {

enum class KvxrCall { SetNetworkCfg, Reboot, WriteOperationMode, ReadOperationMode };

// One phrase without a final full stop; "unexpected status" for a status the
// call does not give.
std::string KvxrStatusMeaning(KvxrCall call, int32_t status);

}  // namespace qs::app
