#include "devsim/families.h"

#include "devsim/sim.h"

namespace qs::devsim {

bool AddProductFamilies(Simulator& sim, std::string* error) {
  return sim.AddFamily(NewFirstFamily(), error) && sim.AddFamily(NewKvxrScan(), error) &&
         sim.AddFamily(NewKvxrConfig(), error) && sim.AddFamily(NewKvxrUpdate(), error);
}

}  // namespace qs::devsim
