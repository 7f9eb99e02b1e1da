#include "discovery/device_info.h"

#include <cstring>

#include "platform/text.h"
#include "runtime/bytes.h"

namespace qs::disc {

namespace {

std::u16string Cut(std::string_view ansi, size_t max) {
  size_t n = ansi.find('\0');
  if (n == std::string_view::npos) n = ansi.size();
  if (n > max) n = max;
  return plat::AnsiToWide(ansi.substr(0, n));
}

}  // namespace

void DeviceDetails::SetSerial(std::string_view ansi) { serial = Cut(ansi, kSerialMax); }
void DeviceDetails::SetText(std::string_view ansi) { text = Cut(ansi, kTextMax); }
void DeviceDetails::SetModelName(std::string_view ansi) { modelName = Cut(ansi, kModelNameMax); }

DeviceInfo::DeviceInfo(DeviceReport&& report)
    : row_(report.row),
      address_(report.address),
      name_(plat::AnsiToWide(report.row->displayName)),
      details_(std::move(report.details)),
      version_(report.version) {
  std::memcpy(mac_, report.mac, 6);
}

std::u16string DeviceInfo::GetSerial() { return details_ ? details_->serial : std::u16string(); }
std::u16string DeviceInfo::GetText() { return details_ ? details_->text : std::u16string(); }

void DeviceInfo::GetHardwareId(uint8_t out[16]) {
  if (details_) std::memcpy(out, details_->hardwareId, 16);
  else std::memset(out, 0, 16);
}

void DeviceInfo::GetMac(uint8_t out[6]) { std::memcpy(out, mac_, 6); }

bool DeviceInfo::IsDhcp() { return details_ && details_->dhcp != 0; }

uint32_t DeviceInfo::GetCurrentAddress() { return details_ ? bytes::GetBe32(details_->currentAddress) : address_; }
uint32_t DeviceInfo::GetStaticAddress() { return details_ ? bytes::GetBe32(details_->staticAddress) : address_; }
uint32_t DeviceInfo::GetNetmask() { return details_ ? bytes::GetBe32(details_->netmask) : 0; }
uint32_t DeviceInfo::GetGateway() { return details_ ? bytes::GetBe32(details_->gateway) : 0; }

bool DeviceInfo::Matches(const ModelRow* row, const uint8_t mac[6]) {
  return row && row->modelNumber == row_->modelNumber && std::memcmp(mac, mac_, 6) == 0;
}

bool DeviceInfo::Update(const ModelRow*, const uint8_t mac[6], uint32_t address,
                        std::unique_ptr<DeviceDetails> details, const VersionPair& version) {
  // Row and name stay as first reported.
  std::memcpy(mac_, mac, 6);
  address_ = address;
  version_ = version;
  details_ = std::move(details);
  return true;
}

const DeviceDetails* DetailsOf(IDeviceInfo* device) {
  auto* d = dynamic_cast<DeviceInfo*>(device);
  return d ? d->details() : nullptr;
}

IDeviceInfoX* CreateDeviceInfo(DeviceReport&& report) {
  return CreateObject<RCObject2<DeviceInfo>>(std::move(report));
}

}  // namespace qs::disc
