// No exception leaves the library: every exported function and every pooled
// job runs its work through a fence. An exception that reaches one (in
// practice only out of memory) becomes the status the caller names, the
// function's "could not be started" status where it has one; a job without a
// result simply ends.
#pragma once
#include <cstdint>

namespace qs::kvxr {

template <class Body>
int32_t Fenced(int32_t onException, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return onException;
  }
}

template <class Body>
void Fenced(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace qs::kvxr
