// IPv4 addresses as dotted-quad text, the way the cameras, the lists and the address panel
// write them.
//
//   std::uint32_t first = 0, next = 0;
//   if (factory::ParseIpv4("192.168.1.254", &first) && factory::AddIpv4(first, 2, &next))
//       factory::FormatIpv4(next);                       // "192.168.2.0"
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace factory {

// Exactly four parts separated by ".", each of one to three decimal digits with a value of
// 0-255; anything else (a sign, a blank, an empty or fifth part) is refused. On success stores
// the address, highest octet first, in `value`; on failure leaves it as it was.
bool ParseIpv4(std::string_view text, std::uint32_t* value);

// "a.b.c.d", highest octet first.
std::string FormatIpv4(std::uint32_t value);

// `value` + `n`, carrying across octets (192.168.1.255 + 1 = 192.168.2.0). Refused (false,
// `sum` untouched) when the result would pass 255.255.255.255: it never wraps to 0.0.0.0.
bool AddIpv4(std::uint32_t value, std::uint32_t n, std::uint32_t* sum);

}  // namespace factory
