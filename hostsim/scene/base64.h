// Base64 (RFC 4648, with padding): how a scene file carries a node's binary
// block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostsim {

std::string base64Encode(const std::vector<uint8_t> &bytes);
// False for text that is not whole padded base64; bytes then holds nothing useful.
bool base64Decode(const std::string &text, std::vector<uint8_t> &bytes);

} // namespace hostsim
