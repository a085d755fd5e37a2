// The file a configuration export writes in the working folder:
// "<address>_<YYYYMMDDhhmmss>.cfg".
//
//   const std::string file = factory::ConfigExportFileName(row_ip, 2024, 3, 5, 7, 8, 9);
//   if (file.empty()) { /* not an address: refuse the export */ }
#pragma once

#include <string>
#include <string_view>

namespace factory {

// Built from the parsed address, never from the text as given, so that what a camera reported
// cannot name a file outside the folder; empty when `ip` is not a dotted-quad address.
std::string ConfigExportFileName(std::string_view ip, int year, int month, int day, int hour, int minute,
                                 int second);

}  // namespace factory
