// The protocol families the simulator plays, each in its own file with its
// per-device state and its settings table.
#pragma once
#include <memory>
#include <string>

#include "devsim/family.h"

namespace qs::devsim {

class Simulator;

std::unique_ptr<Family> NewFirstFamily();  // first_family.cpp: text scan, discover on 59300, winks
std::unique_ptr<Family> NewKvxrScan();     // kvxr_scan.cpp: KV-xR discover and version on 9010
std::unique_ptr<Family> NewKvxrConfig();   // kvxr_config.cpp: set-config and reboot
std::unique_ptr<Family> NewKvxrUpdate();   // kvxr_update*.cpp: the device side of a firmware update

// Every family of the product, in the order their settings are shown.
bool AddProductFamilies(Simulator& sim, std::string* error);

}  // namespace qs::devsim
