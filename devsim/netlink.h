// Adds and removes the devices' addresses on the bridges through rtnetlink:
// a thousand devices must come up in well under a second, which spawning
// "ip addr" once per device cannot do.
#pragma once
#include <cstdint>
#include <string>

namespace qs::devsim {

class AddressTable {
 public:
  AddressTable() = default;
  ~AddressTable();
  AddressTable(const AddressTable&) = delete;
  AddressTable& operator=(const AddressTable&) = delete;

  bool Open(std::string* error);
  // address/32 on the interface; true when done or already so
  bool Add(int ifindex, uint32_t address, std::string* error);
  bool Remove(int ifindex, uint32_t address, std::string* error);

 private:
  bool Change(bool add, int ifindex, uint32_t address, std::string* error);
  int fd_ = -1;
  uint32_t seq_ = 0;
};

}  // namespace qs::devsim
