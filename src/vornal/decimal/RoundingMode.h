#pragma once

namespace vornal::decimal {

// Rounding modes of the decimal arithmetic, the same names and meaning as the rounding choices the user
// picks (ConfigHelper::RoundingMethod::getRoundingMode maps one to the other).
enum class RoundingMode {
    CEILING,   // towards positive infinity
    DOWN,      // towards zero
    FLOOR,     // towards negative infinity
    HALF_DOWN, // nearest neighbour, ties towards zero
    HALF_EVEN, // nearest neighbour, ties to the even neighbour
    HALF_UP,   // nearest neighbour, ties away from zero
    UP,        // away from zero
};

} // namespace vornal::decimal
