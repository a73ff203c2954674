#include "tests/support/oracles.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace lumivane {

void ReverseBytes4(std::uint8_t* bytes) {
  std::swap(bytes[0], bytes[3]);
  std::swap(bytes[1], bytes[2]);
}

void ForEachRowWave(RowWorkers& workers, std::uint32_t rows, std::uint32_t rowsPerWave,
                    const RowWorkers::Work& work,
                    const std::function<void(std::uint32_t, std::uint32_t)>& afterWave) {
  rowsPerWave = std::max(1u, rowsPerWave);
  for (std::uint32_t begin = 0; begin < rows;) {
    const std::uint32_t end = begin + std::min(rowsPerWave, rows - begin);
    workers.Run(end - begin,
                [&](std::size_t from, std::size_t to) { work(begin + from, begin + to); });
    afterWave(begin, end);
    begin = end;
  }
}

}  // namespace lumivane
