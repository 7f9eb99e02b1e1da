// quillscan-cli image: loads a firmware file exactly as KVxR_SetFirmwareFile
// does (without making it current) and shows what the library would see.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "firmware/binary_image.h"
#include "firmware/firmware_package.h"
#include "library/KV-xR_update.h"
#include "library/status_text.h"
#include "platform/sha1.h"
#include "platform/text.h"

namespace qs::cli {

namespace {

struct ChunkLine {
  uint32_t start;
  uint32_t end;
  std::string sha1;  // lower-case hex
};

const char* FormatName(fw::ImageFormat f) {
  switch (f) {
    case fw::ImageFormat::IntelHex:
      return "intel-hex";
    case fw::ImageFormat::SRecord:
      return "s-record";
    default:
      return nullptr;
  }
}

std::string StatusText(int32_t st) {
  return st == KVXR_OK ? "firmware accepted" : kvxr::StatusMeaning(kvxr::Call::SetFirmwareFile, st);
}

bool DigestChunks(fw::IBinaryImage* image, std::vector<ChunkLine>& out) {
  static const char kHex[] = "0123456789abcdef";
  int32_t n = image->GetChunkCount();
  for (int32_t i = 0; i < n; ++i) {
    fw::IBinaryImageChunk* raw = nullptr;
    if (!image->GetChunk(i, &raw) || !raw) return false;
    Ref<fw::IBinaryImageChunk> c = Ref<fw::IBinaryImageChunk>::Adopt(raw);
    uint8_t d[plat::kSha1Size];
    if (!plat::Sha1Digest(c->GetData(), static_cast<size_t>(fw::ChunkSize(c.get())), d)) return false;
    ChunkLine line{c->GetStartAddress(), c->GetEndAddress(), std::string()};
    for (uint8_t b : d) {
      line.sha1.push_back(kHex[b >> 4]);
      line.sha1.push_back(kHex[b & 15]);
    }
    out.push_back(std::move(line));
  }
  return true;
}

void PrintJson(const fw::LoadedFirmware& f, const std::vector<ChunkLine>& chunks) {
  // A refused file shows no format and no chunks, whatever a reader made of it.
  bool loaded = f.image && !f.conflicting;
  const char* format = loaded ? FormatName(f.format) : nullptr;
  std::printf("{\"status\":%" PRId32 ",\"format\":", f.status);
  if (format)
    std::printf("\"%s\"", format);
  else
    std::printf("null");
  if (f.status == KVXR_OK)
    std::printf(",\"version\":[%" PRIu32 ",%" PRIu32 "]", f.info.major, f.info.minor);
  else
    std::printf(",\"version\":null");
  std::printf(",\"chunks\":[");
  if (loaded) {
    for (size_t i = 0; i < chunks.size(); ++i)
      std::printf("%s{\"start\":%" PRIu32 ",\"end\":%" PRIu32 ",\"sha1\":\"%s\"}", i ? "," : "", chunks[i].start,
                  chunks[i].end, chunks[i].sha1.c_str());
  }
  std::printf("]}\n");
}

void PrintText(const std::string& file, const fw::LoadedFirmware& f, const std::vector<ChunkLine>& chunks) {
  std::printf("file:    %s\n", file.c_str());
  const char* format = FormatName(f.format);
  std::printf("format:  %s\n", format ? format : "-");
  if (f.image) {
    uint64_t total = 0;
    for (const ChunkLine& c : chunks) total += uint64_t{c.end} - c.start + 1;
    std::printf("chunks:  %zu (%" PRIu64 " bytes)\n", chunks.size(), total);
    for (const ChunkLine& c : chunks)
      std::printf("  0x%08" PRIX32 "-0x%08" PRIX32 "  %10" PRIu64 " bytes  sha1 %s\n", c.start, c.end,
                  uint64_t{c.end} - c.start + 1, c.sha1.c_str());
  }
  std::printf("status:  %" PRId32 " (%s)\n", f.status, StatusText(f.status).c_str());
  if (f.conflicting)
    std::printf("         records give different bytes to address 0x%08" PRIX32 "\n", f.conflictAt);
  if (f.status == KVXR_OK) std::printf("version: %s\n", fw::VersionText(f.info.major, f.info.minor).c_str());
}

int RunImage(const std::vector<std::string>& args) {
  bool json = false;
  std::string file;
  for (const std::string& a : args) {
    if (a == "--json") {
      json = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return UsageError("image", "unknown option '" + a + "'");
    } else if (file.empty()) {
      file = a;
    } else {
      return UsageError("image", "one file only");
    }
  }
  if (file.empty()) return UsageError("image", "a firmware file is needed");
  fw::LoadedFirmware f = fw::LoadFirmwareFile(plat::Utf8ToWide(file));
  std::vector<ChunkLine> chunks;
  if (f.image && !DigestChunks(f.image.get(), chunks)) {
    Error("image", "could not compute the chunk digests");
    return kExitFailed;
  }
  if (json)
    PrintJson(f, chunks);
  else
    PrintText(file, f, chunks);
  if (f.status != KVXR_OK) {
    if (!json) Error("image", file + ": " + StatusText(f.status));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

QS_CLI_COMMAND(g_imageCommand, "image", "image <FILE> [--json]",
               "Loads a firmware file (Intel HEX, else S-record) as the library does, without making it\n"
               "current, and prints its format, its chunks (start, end, SHA-1 of their bytes) and the\n"
               "outcome of reading its \"fw.info\" description: the status code and the version.",
               RunImage);

}  // namespace qs::cli
