#include "platform/sha1.h"

#include <windows.h>
#include <bcrypt.h>

namespace qs::plat {

namespace {
// One algorithm provider for the process; opening it is the costly part.
BCRYPT_ALG_HANDLE Provider() {
  static BCRYPT_ALG_HANDLE alg = [] {
    BCRYPT_ALG_HANDLE a = nullptr;
    if (BCryptOpenAlgorithmProvider(&a, BCRYPT_SHA1_ALGORITHM, nullptr, 0) != 0) a = nullptr;
    return a;
  }();
  return alg;
}
}  // namespace

struct Sha1::Impl {
  BCRYPT_HASH_HANDLE h = nullptr;
  bool ok = false;
  void Open() {
    h = nullptr;
    BCRYPT_ALG_HANDLE alg = Provider();
    ok = alg && BCryptCreateHash(alg, &h, nullptr, 0, nullptr, 0, 0) == 0;
  }
};

Sha1::Sha1() : impl_(new Impl) { impl_->Open(); }

Sha1::~Sha1() {
  if (impl_->h) BCryptDestroyHash(impl_->h);
  delete impl_;
}

void Sha1::Update(const void* data, size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (impl_->ok && len) {
    ULONG chunk = len > 0x40000000u ? 0x40000000u : static_cast<ULONG>(len);
    impl_->ok = BCryptHashData(impl_->h, const_cast<PUCHAR>(p), chunk, 0) == 0;
    p += chunk;
    len -= chunk;
  }
}

bool Sha1::Final(uint8_t out[kSha1Size]) {
  bool ok = impl_->ok && BCryptFinishHash(impl_->h, out, kSha1Size, 0) == 0;
  if (impl_->h) BCryptDestroyHash(impl_->h);
  impl_->Open();
  return ok;
}

}  // namespace qs::plat
