// The newest firmware file: "*.hex" next to the program, as the library
// judges them. Run once when the main window starts.
#pragma once

namespace qs::app {

void SearchFirmwareFiles();

}  // namespace qs::app
