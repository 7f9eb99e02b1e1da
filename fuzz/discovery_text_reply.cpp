// The legacy text reply and the library's device lines: what comes off the
// network or out of the library as text, parsed before anything is trusted.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "discovery/replies.h"
#include "discovery/text_reply.h"
#include "library/device_line.h"

namespace {

const uint8_t kNonce[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qs::disc;
  // Copy into a buffer of exactly the input's size so that any read past it is caught.
  uint8_t* buf = new uint8_t[size ? size : 1];
  if (size) std::memcpy(buf, data, size);

  TextReply s;
  if (DecodeTextReply(buf, size, &s)) {
    Check(s.row != nullptr && size >= 2 && buf[0] == 0x02 && buf[size - 1] == 0x03);
    // the row's code follows the 0x02 byte
    const size_t n = std::strlen(s.row->code);
    Check(n + 1 <= size && std::memcmp(buf + 1, s.row->code, n) == 0);
  }
  Sighting c;
  Verdict v = ClassifyDatagram(kNonce, buf, size, &c);
  if (v == Verdict::Report) Check(c.row != nullptr && c.row->listed);
  if (v == Verdict::Consumed) Check(c.row == nullptr || !c.row->listed);

  const std::string_view text(reinterpret_cast<const char*>(buf), size);
  qs::kvxr::DeviceLine line;
  if (qs::kvxr::ParseDeviceLine(text, &line)) {
    Check(text.find('|') != std::string_view::npos);
    // The line written again from what was read reads back the same.
    qs::kvxr::DeviceLine again;
    Check(qs::kvxr::ParseDeviceLine(qs::kvxr::FormatDeviceLine(line), &again));
    Check(again.address == line.address && again.major == line.major && again.minor == line.minor &&
          again.dhcp == line.dhcp && again.gateway == line.gateway && std::memcmp(again.mac, line.mac, 6) == 0);
  }
  delete[] buf;
  return 0;
}
