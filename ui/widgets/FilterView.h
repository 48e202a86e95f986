#pragma once

// The views of step 3's plot, in the order of its tabs.

namespace fennick {

enum class FilterView { magnitude, passband, impulse, ditherNoise };

} // namespace fennick
