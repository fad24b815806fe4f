#include "engine/InfoHashKey.h"

namespace rillow {

namespace {

std::string lowerHex(const lt::sha1_hash& hash) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(40);
    for (const char byte : hash) {
        const auto value = static_cast<unsigned char>(byte);
        text.push_back(digits[value >> 4]);
        text.push_back(digits[value & 0x0f]);
    }
    return text;
}

}  // namespace

std::string infoHashKey(const lt::info_hash_t& hashes) {
    if (hashes.has_v1()) return lowerHex(hashes.v1);
    if (hashes.has_v2()) return lowerHex(lt::sha1_hash(hashes.v2.data()));
    return {};
}

}  // namespace rillow
