// Device records: one per device, reference-counted, kept by the manager's
// list and by the user interface's lists.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "discovery/model_table.h"
#include "runtime/rc.h"

namespace qs::disc {

struct VersionPair {
  uint32_t major = 0;
  uint32_t minor = 0;
};

inline bool operator==(const VersionPair& a, const VersionPair& b) { return a.major == b.major && a.minor == b.minor; }

// What the library tells about a KV-xR device. Addresses are stored as on the
// wire, most significant byte first.
struct DeviceDetails {
  static constexpr size_t kSerialMax = 24;
  static constexpr size_t kTextMax = 40;
  static constexpr size_t kModelNameMax = 8;

  uint8_t hardwareId[16] = {};
  uint8_t currentAddress[4] = {};
  uint8_t mac[6] = {};
  uint8_t dhcp = 0;
  uint8_t staticAddress[4] = {};
  uint8_t netmask[4] = {};
  uint8_t gateway[4] = {};
  std::u16string serial;
  std::u16string text;
  std::u16string modelName;

  // ANSI sources, cut at the field's width or first NUL, then widened.
  void SetSerial(std::string_view ansi);
  void SetText(std::string_view ansi);
  void SetModelName(std::string_view ansi);
};

// The unit both sources hand to the manager.
struct DeviceReport {
  const ModelRow* row = nullptr;
  uint32_t address = 0;  // host order
  VersionPair version;
  uint8_t mac[6] = {};
  std::unique_ptr<DeviceDetails> details;
};

struct IDeviceInfo : IRefCounted {
  virtual int32_t GetModelId() = 0;
  virtual bool HasWebPage() = 0;
  virtual bool CanSetupNetwork() = 0;
  virtual bool CanWink() = 0;
  virtual std::u16string GetName() = 0;
  virtual uint32_t GetAddress() = 0;
  virtual std::u16string GetSerial() = 0;
  virtual std::u16string GetText() = 0;
  virtual void GetHardwareId(uint8_t out[16]) = 0;
  virtual void GetMac(uint8_t out[6]) = 0;
  virtual bool IsDhcp() = 0;
  virtual uint32_t GetCurrentAddress() = 0;
  virtual uint32_t GetStaticAddress() = 0;
  virtual uint32_t GetNetmask() = 0;
  virtual uint32_t GetGateway() = 0;
  virtual const VersionPair& GetVersion() = 0;
};

struct IDeviceInfoX : IDeviceInfo {
  virtual bool Matches(const ModelRow* row, const uint8_t mac[6]) = 0;
  virtual bool Update(const ModelRow* row, const uint8_t mac[6], uint32_t address,
                      std::unique_ptr<DeviceDetails> details, const VersionPair& version) = 0;
};

class DeviceInfo : public IDeviceInfoX {
 public:
  // row must not be null
  explicit DeviceInfo(DeviceReport&& report);
  virtual ~DeviceInfo() = default;

  int32_t GetModelId() override { return row_->modelNumber; }
  bool HasWebPage() override { return row_->webPage != 0; }
  bool CanSetupNetwork() override { return row_->networkSetup != 0; }
  bool CanWink() override { return row_->wink != 0; }
  std::u16string GetName() override { return name_; }
  uint32_t GetAddress() override { return address_; }
  std::u16string GetSerial() override;
  std::u16string GetText() override;
  void GetHardwareId(uint8_t out[16]) override;
  void GetMac(uint8_t out[6]) override;
  bool IsDhcp() override;
  uint32_t GetCurrentAddress() override;
  uint32_t GetStaticAddress() override;
  uint32_t GetNetmask() override;
  uint32_t GetGateway() override;
  const VersionPair& GetVersion() override { return version_; }

  bool Matches(const ModelRow* row, const uint8_t mac[6]) override;
  bool Update(const ModelRow* row, const uint8_t mac[6], uint32_t address, std::unique_ptr<DeviceDetails> details,
              const VersionPair& version) override;

  const ModelRow* row() const { return row_; }
  bool hasDetails() const { return details_ != nullptr; }
  const DeviceDetails* details() const { return details_.get(); }

 private:
  const ModelRow* row_;
  uint8_t mac_[6];
  uint32_t address_;
  std::u16string name_;
  std::unique_ptr<DeviceDetails> details_;
  VersionPair version_;
};

// The details of a record made by CreateDeviceInfo, or null (none, or another
// implementation of the interface).
const DeviceDetails* DetailsOf(IDeviceInfo* device);

// A new record holding one reference for the caller.
IDeviceInfoX* CreateDeviceInfo(DeviceReport&& report);

}  // namespace qs::disc
