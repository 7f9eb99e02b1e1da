#include "platform/sha1.h"

#include <openssl/evp.h>

namespace qs::plat {

struct Sha1::Impl {
  EVP_MD_CTX* ctx = nullptr;
  bool ok = false;
};

Sha1::Sha1() : impl_(new Impl) {
  impl_->ctx = EVP_MD_CTX_new();
  impl_->ok = impl_->ctx && EVP_DigestInit_ex(impl_->ctx, EVP_sha1(), nullptr) == 1;
}

Sha1::~Sha1() {
  EVP_MD_CTX_free(impl_->ctx);
  delete impl_;
}

void Sha1::Update(const void* data, size_t len) {
  if (impl_->ok && len) impl_->ok = EVP_DigestUpdate(impl_->ctx, data, len) == 1;
}

bool Sha1::Final(uint8_t out[kSha1Size]) {
  unsigned int n = 0;
  bool ok = impl_->ok && EVP_DigestFinal_ex(impl_->ctx, out, &n) == 1 && n == kSha1Size;
  impl_->ok = impl_->ctx && EVP_DigestInit_ex(impl_->ctx, EVP_sha1(), nullptr) == 1;
  return ok;
}

}  // namespace qs::plat
