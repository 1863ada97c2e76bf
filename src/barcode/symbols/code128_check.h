// The Code 128 check sum of the symbols read here, all of which begin with
// START C: START C's value, plus each character's value times its position
// (1 for the character behind the start), modulo 103; the check character's
// value is the sum. Header only and free of the rest of the library, so that
// the decoders and the simulator's encoder share it.
#pragma once

namespace markwire::barcode::code128 {

inline constexpr int kCheckModulus = 103;
// START C's value, where every sum begins.
inline constexpr int kStartCValue = 105;

// The sum once the character of `value` at `position` is added (values and
// positions not negative). The weight is reduced first, so that no position
// of any symbol overflows the product.
constexpr int AddToCheck(long long sum, long long position, long long value) {
  return static_cast<int>((sum + position % kCheckModulus * value) % kCheckModulus);
}

}  // namespace markwire::barcode::code128
