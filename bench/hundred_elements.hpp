// The 100-element sample of the run benchmarks: ten elements in turn, one
// atom each, as the whole run types it and as the in-process pieces build it.
#pragma once

inline constexpr int kHundredElements = 100;
inline constexpr const char* kTenSymbols[] = {"H", "Li", "B", "C", "N", "O", "Si", "Fe", "Ni", "Cu"};

// The symbol of the i-th element of the sample.
constexpr const char* hundred_elements_symbol(int i) { return kTenSymbols[i % 10]; }
