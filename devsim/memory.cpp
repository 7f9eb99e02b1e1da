#include "devsim/memory.h"

#include <algorithm>
#include <cstring>

#include "platform/sha1.h"

namespace qs::devsim {

const char* const kAreaNames[kAreaCount] = {"app", "oldconfig", "cfgblock", "product"};

namespace {

bool Within(uint64_t address, uint64_t size, uint64_t start, uint64_t length) {
  return size >= 1 && address >= start && address + size <= start + length;
}

}  // namespace

bool Memory::InFlash(uint32_t address, uint32_t size) const { return Within(address, size, 0, flashSize_); }

bool Memory::Holds(uint32_t address, uint32_t size) const {
  return InFlash(address, size) || Within(address, size, kProductAddress, kProductSize);
}

bool Memory::InRecord(uint32_t address, uint32_t size) { return Within(address, size, kRecordAddress, kRecordSize); }

Area Memory::AreaOf(uint32_t address) {
  if (address >= kProductAddress) return Area::Product;
  if (address >= kOldConfigAddress && address < kOldConfigAddress + kOldConfigSize) return Area::OldConfig;
  if (address >= kConfigBlockAddress && address < kConfigBlockAddress + kConfigBlockSize) return Area::ConfigBlock;
  return Area::App;
}

void Memory::Read(uint32_t address, uint32_t size, uint8_t* out) const {
  uint64_t at = address, end = uint64_t{address} + size;
  while (at < end) {
    uint32_t page = static_cast<uint32_t>(at / kPage), offset = static_cast<uint32_t>(at % kPage);
    size_t n = static_cast<size_t>(std::min<uint64_t>(kPage - offset, end - at));
    auto it = pages_.find(page);
    if (it == pages_.end()) std::memset(out, 0xFF, n);
    else std::memcpy(out, it->second.data() + offset, n);
    out += n;
    at += n;
  }
}

void Memory::Write(uint32_t address, const uint8_t* data, size_t size) {
  uint64_t at = address, end = uint64_t{address} + size;
  while (at < end) {
    uint32_t page = static_cast<uint32_t>(at / kPage), offset = static_cast<uint32_t>(at % kPage);
    size_t n = static_cast<size_t>(std::min<uint64_t>(kPage - offset, end - at));
    auto it = pages_.find(page);
    if (it == pages_.end()) {
      // an erased page stays unheld while only 0xFF is written into it
      if (std::all_of(data, data + n, [](uint8_t b) { return b == 0xFF; })) {
        data += n;
        at += n;
        continue;
      }
      it = pages_.emplace(page, Page()).first;
      it->second.fill(0xFF);
    }
    std::memcpy(it->second.data() + offset, data, n);
    data += n;
    at += n;
  }
}

void Memory::Erase(uint32_t address, uint32_t size) {
  uint8_t ff[kPage];
  std::memset(ff, 0xFF, sizeof ff);
  uint64_t at = address, end = uint64_t{address} + size;
  while (at < end) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kPage - at % kPage, end - at));
    uint32_t page = static_cast<uint32_t>(at / kPage);
    if (n == kPage) pages_.erase(page);
    else if (pages_.count(page)) Write(static_cast<uint32_t>(at), ff, n);
    at += n;
  }
}

void Memory::Digest(uint32_t address, uint32_t size, uint8_t out[20]) const {
  plat::Sha1 sha;
  uint8_t buf[4096];
  uint64_t at = address, end = uint64_t{address} + size;
  while (at < end) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(sizeof buf, end - at));
    Read(static_cast<uint32_t>(at), n, buf);
    sha.Update(buf, n);
    at += n;
  }
  sha.Final(out);
}

}  // namespace qs::devsim
