#include "devsim/device_memory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "firmware/firmware_package.h"
#include "library/KV-xR_update.h"
#include "platform/sha1.h"
#include "platform/text.h"
#include "runtime/bytes.h"
#include "runtime/rc.h"

namespace qs::devsim {

const char* const kProductStateNames[kProductStateCount] = {"valid", "old", "old-bad", "old-long-serial", "blank"};

namespace {

constexpr size_t kModelCode = 8;
constexpr size_t kSerialAt = 30;
constexpr size_t kRecordSerialMax = 24;
constexpr size_t kLongSerial = 40;

std::array<uint8_t, kModelCode> ModelCode(const std::string& model) {
  std::array<uint8_t, kModelCode> code{};
  std::memcpy(code.data(), model.data(), std::min(model.size(), kModelCode));
  return code;
}

// Factory data that no update touches; any fixed bytes do, as long as a test
// can tell them from erased flash.
void WriteCalibration(Memory& m, const Identity& id) {
  uint8_t cal[kCalibrationSize];
  for (size_t i = 0; i < sizeof cal; ++i) cal[i] = static_cast<uint8_t>(id.mac[i % 6] ^ (0x5A + 37 * i));
  m.Write(kProductAddress, cal, sizeof cal);
}

void WriteOldBlock(Memory& m, const Identity& id, const std::string& model, const std::string& serial) {
  std::vector<uint8_t> b(kSerialAt + serial.size() + 1, 0);
  std::memcpy(b.data(), id.mac.data(), 6);
  b[6] = id.dhcp ? 1 : 0;
  bytes::PutBe32(&b[8], id.address);
  bytes::PutBe32(&b[12], id.netmask);
  bytes::PutBe32(&b[16], id.gateway);
  auto code = ModelCode(model);
  std::memcpy(&b[22], code.data(), kModelCode);
  std::memcpy(&b[kSerialAt], serial.data(), serial.size());
  m.Write(kOldConfigAddress, b.data(), b.size());
}

void WriteRecord(Memory& m, const Identity& id) {
  std::vector<uint8_t> r(20, 0);
  auto item = [&r](uint8_t tag, const uint8_t* p, size_t n) {
    r.push_back(tag);
    r.push_back(static_cast<uint8_t>(n));
    r.insert(r.end(), p, p + n);
  };
  const uint8_t format = 1;
  item(0xF0, &format, 1);
  auto code = ModelCode(id.model);
  item(0x01, code.data(), code.size());
  item(0x02, id.mac.data(), 6);
  std::string serial = id.serial.substr(0, kRecordSerialMax);
  // no serial, no item: one of length 0 would end the record's walk
  if (!serial.empty()) item(0x03, reinterpret_cast<const uint8_t*>(serial.data()), serial.size());
  item(0xFF, nullptr, 0);
  plat::Sha1Digest(r.data() + 20, r.size() - 20, r.data());
  m.Write(kRecordAddress, r.data(), r.size());
}

// An image of the info window alone, for the firmware readers' own look-up.
class WindowChunk : public fw::IBinaryImageChunk {
 public:
  explicit WindowChunk(const uint8_t* bytes) : bytes_(bytes) {}
  uint32_t GetStartAddress() override { return kInfoWindow; }
  uint32_t GetEndAddress() override { return kInfoWindow + kInfoWindowSize - 1; }
  const uint8_t* GetData() override { return bytes_; }

 private:
  const uint8_t* bytes_;
};

class WindowImage : public fw::IBinaryImage {
 public:
  explicit WindowImage(fw::IBinaryImageChunk* chunk) : chunk_(chunk) {}
  int32_t GetChunkCount() override { return 1; }
  bool GetChunk(int32_t index, fw::IBinaryImageChunk** out) override {
    if (!out || index != 0) return false;
    *out = chunk_.get();
    chunk_->AddRef();
    return true;
  }

 private:
  Ref<fw::IBinaryImageChunk> chunk_;
};

}  // namespace

void WriteProductState(Memory& m, ProductState state, const Identity& id) {
  m.Erase(kProductAddress, kProductSize);
  m.Erase(kOldConfigAddress, kOldConfigSize);
  if (state == ProductState::Blank) return;
  WriteCalibration(m, id);
  switch (state) {
    case ProductState::Valid:
      // migrated earlier: the record and the block it came from
      WriteOldBlock(m, id, id.model, id.serial);
      WriteRecord(m, id);
      break;
    case ProductState::Old:
      WriteOldBlock(m, id, id.model, id.serial);
      break;
    case ProductState::OldBad:
      WriteOldBlock(m, id, "QX" + id.model.substr(std::min<size_t>(2, id.model.size())), id.serial);
      break;
    case ProductState::OldLongSerial: {
      std::string serial = id.serial.empty() ? std::string("QS") : id.serial;
      while (serial.size() < kLongSerial) serial += serial;
      WriteOldBlock(m, id, id.model, serial.substr(0, kLongSerial));
      break;
    }
    case ProductState::Blank:
      break;
  }
}

bool RecordValid(const uint8_t record[kRecordSize]) {
  size_t at = 20;
  for (;;) {
    if (at + 2 > kRecordSize) return false;
    uint8_t tag = record[at], len = record[at + 1];
    if (at + 2 + len > kRecordSize) return false;
    at += 2 + len;
    if (tag == 0xFF || len == 0) break;
  }
  uint8_t digest[20];
  plat::Sha1Digest(record + 20, at - 20, digest);
  return std::memcmp(digest, record, 20) == 0;
}

bool OldBlockPasses(const uint8_t* block, size_t size) {
  if (size < kSerialAt) return false;
  bool ff = std::all_of(block, block + 6, [](uint8_t b) { return b == 0xFF; });
  bool zero = std::all_of(block, block + 6, [](uint8_t b) { return b == 0x00; });
  if (ff || zero) return false;
  for (const char* code : {"KV1R", "KV2R", "KV3R"})
    if (std::memcmp(block + 22, code, 4) == 0) return true;
  return false;
}

void WriteInfoBlock(Memory& m, uint32_t major, uint32_t minor) {
  std::string text = "fw.info{\"model\":\"KV-xR\",\"version\":\"" + std::to_string(major) + "." +
                     std::to_string(minor) + "\"}";
  text.push_back('\0');
  m.Write(kInfoWindow, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

int32_t ReadInfoBlock(const Memory& m, fw::FirmwareInfo& info) {
  std::vector<uint8_t> window(kInfoWindowSize);
  m.Read(kInfoWindow, kInfoWindowSize, window.data());
  Ref<fw::IBinaryImageChunk> chunk = Ref<fw::IBinaryImageChunk>::Adopt(CreateObject<RCObject2<WindowChunk>>(window.data()));
  Ref<fw::IBinaryImage> image = Ref<fw::IBinaryImage>::Adopt(CreateObject<RCObject2<WindowImage>>(chunk.get()));
  return fw::ReadFirmwareInfo(image.get(), info);
}

bool LoadFlashImage(const std::string& path, std::shared_ptr<const FlashImage>* out, std::string* why) {
  fw::LoadedFirmware f = fw::LoadFirmwareFile(plat::Utf8ToWide(path));
  if (!f.image) {
    *why = f.status == KVXR_FILE_NOT_FOUND ? "no file " + path : path + " is neither Intel HEX nor S-record";
    return false;
  }
  auto image = std::make_shared<FlashImage>();
  image->path = path;
  Memory probe;
  for (int32_t i = 0; i < f.image->GetChunkCount(); ++i) {
    fw::IBinaryImageChunk* c = nullptr;
    if (!f.image->GetChunk(i, &c)) {
      *why = path + ": cannot take chunk " + std::to_string(i);
      return false;
    }
    Ref<fw::IBinaryImageChunk> chunk = Ref<fw::IBinaryImageChunk>::Adopt(c);
    uint64_t size = fw::ChunkSize(c);
    if (size > kDefaultFlashSize || !probe.InFlash(c->GetStartAddress(), static_cast<uint32_t>(size))) {
      char at[16];
      std::snprintf(at, sizeof at, "0x%06X", static_cast<unsigned>(c->GetStartAddress()));
      *why = path + ": the chunk at " + at + " does not lie in the flash (0x000000 to 0x0FFFFF)";
      return false;
    }
    image->chunks.emplace_back(c->GetStartAddress(), std::vector<uint8_t>(c->GetData(), c->GetData() + size));
  }
  *out = image;
  return true;
}

void WriteFlashImage(Memory& m, const FlashImage& image) {
  for (const auto& [address, data] : image.chunks) m.Write(address, data.data(), data.size());
}

}  // namespace qs::devsim
