// Helpers that no program uses any more, kept for the tests: the plain
// byte-order rules the float fast paths are checked against, and row waves
// over the worker team.
#pragma once

#include <cstdint>
#include <functional>

#include "formats/floatimage.h"
#include "io/parallel.h"

namespace lumivane {

// Bytes 4, 3, 2, 1 of the four at `bytes`, in place.
void ReverseBytes4(std::uint8_t* bytes);

// Rows [0, rows) in waves of `rowsPerWave`: each wave is shared out by Run,
// then afterWave(begin, end) runs on the calling thread, waves in row order.
void ForEachRowWave(RowWorkers& workers, std::uint32_t rows, std::uint32_t rowsPerWave,
                    const RowWorkers::Work& work,
                    const std::function<void(std::uint32_t begin, std::uint32_t end)>& afterWave);

}  // namespace lumivane
