#include "mailstore/pst/ndb/permute.h"

#include <array>

namespace mbx::pst {
namespace {

// The decoding substitution (mpbbI of [MS-PST] §5.1); the encoding table is its inverse.
constexpr std::array<std::uint8_t, 256> kDecode{
    71,  241, 180, 230, 11,  106, 114, 72,  133, 78,  158, 235, 226, 248, 148, 83,  224, 187, 160,
    2,   232, 90,  9,   171, 219, 227, 186, 198, 124, 195, 16,  221, 57,  5,   150, 48,  245, 55,
    96,  130, 140, 201, 19,  74,  107, 29,  243, 251, 143, 38,  151, 202, 145, 23,  1,   196, 50,
    45,  110, 49,  149, 255, 217, 35,  209, 0,   94,  121, 220, 68,  59,  26,  40,  197, 97,  87,
    32,  144, 61,  131, 185, 67,  190, 103, 210, 70,  66,  118, 192, 109, 91,  126, 178, 15,  22,
    41,  60,  169, 3,   84,  13,  218, 93,  223, 246, 183, 199, 98,  205, 141, 6,   211, 105, 92,
    134, 214, 20,  247, 165, 102, 117, 172, 177, 233, 69,  33,  112, 12,  135, 159, 116, 164, 34,
    76,  111, 191, 31,  86,  170, 46,  179, 120, 51,  80,  176, 163, 146, 188, 207, 25,  28,  167,
    99,  203, 30,  77,  62,  75,  27,  155, 79,  231, 240, 238, 173, 58,  181, 89,  4,   234, 64,
    85,  37,  81,  229, 122, 137, 56,  104, 82,  123, 252, 39,  174, 215, 189, 250, 7,   244, 204,
    142, 95,  239, 53,  156, 132, 43,  21,  213, 119, 52,  73,  182, 18,  10,  127, 113, 136, 253,
    157, 24,  65,  125, 147, 216, 88,  44,  206, 254, 36,  175, 222, 184, 54,  200, 161, 128, 166,
    153, 152, 168, 47,  14,  129, 101, 115, 228, 194, 162, 138, 212, 225, 17,  208, 8,   139, 42,
    242, 237, 154, 100, 63,  193, 108, 249, 236};

constexpr std::array<std::uint8_t, 256> invert(const std::array<std::uint8_t, 256>& t) {
    std::array<std::uint8_t, 256> r{};
    for (std::size_t i = 0; i < 256; ++i)
        r[t[i]] = static_cast<std::uint8_t>(i);
    return r;
}
constexpr auto kEncode = invert(kDecode);
static_assert(kEncode[0] == 65 && kEncode[1] == 54 && kEncode[2] == 19 && kEncode[3] == 98);

} // namespace

void permuteEncode(std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        data[i] = kEncode[data[i]];
}
void permuteDecode(std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        data[i] = kDecode[data[i]];
}

} // namespace mbx::pst
