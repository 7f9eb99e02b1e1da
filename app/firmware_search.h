// The firmware file the program offers: the last "*.hex" next to the program
// that the library accepts (whatever its version), as the library
// judges them. Run once when the main window starts.
#pragma once

namespace qs::app {

void SearchFirmwareFiles();

}  // namespace qs::app
