// Texts in the camera library's fixed-size char fields. A camera that fills a field to its last
// byte leaves no terminating NUL, so a field is read up to its size and never further.
//
//   KPLPRC_HWINFO_EX info{};
//   std::string model = factory::FixedText(info.model);
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace factory {

inline std::string FixedText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

template <size_t N>
std::string FixedText(const char (&field)[N]) {
    return FixedText(field, N);
}

}  // namespace factory
