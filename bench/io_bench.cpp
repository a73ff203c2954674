// Decoding per row kind from the file and from memory, and
// writing in blocks of different sizes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/synthetic.h"
#include "formats/rgbe.h"
#include "io/binaryfile.h"

namespace lumivane::bench {
namespace {

constexpr std::uint32_t kWidth = 4096;
constexpr std::uint32_t kRows = 256;

std::string ScratchPath(const std::string& name) {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder ? folder : "/tmp") + "/lumivane_bench_" + std::to_string(::getpid()) +
         "_" + name;
}

// The synthetic scene's rows, all stored in one form.
std::vector<std::uint8_t> EncodedScene(RowForm form) {
  std::vector<std::uint8_t> data, pixels(4 * kWidth);
  for (std::uint32_t y = 0; y < kRows; ++y) {
    SyntheticRgbeRow(kWidth, kRows * 16, y * 16, pixels.data());
    EncodeRgbeRow(pixels.data(), kWidth, form, data);
  }
  return data;
}

// Decoding from the file through the jobs' read window, in blocks of 64 rows.
// state.range(0): 0 flat rows, 1 per-component runs, 2 old runs.
void BM_RgbeStreamDecoding(benchmark::State& state) {
  const std::vector<std::uint8_t> data = EncodedScene(static_cast<RowForm>(state.range(0)));
  const std::string input = ScratchPath("rows.rgbe");
  {
    BinaryFile file = BinaryFile::CreateForWriting(input);
    if (!file.Write(data.data(), data.size())) state.SkipWithError("cannot write input");
  }
  for (auto _ : state) {
    BinaryFile file = BinaryFile::OpenForReading(input);
    RgbeStream stream(file, 0, data.size());
    RgbeBlockDecoder decoder(stream, kWidth, kRows, 64);
    while (!decoder.Finished()) {
      if (!decoder.DecodeNext()) {
        state.SkipWithError("the decoder refused the data");
        break;
      }
    }
    benchmark::DoNotOptimize(decoder.Last().E);
  }
  RemoveFile(input);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kRows);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_RgbeStreamDecoding)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Decoding alone, from memory into the reused blocks of the jobs.
// state.range(0): the row form as above; state.range(1): 1 for plain steps.
void BM_RgbeBlockDecoding(benchmark::State& state) {
  const std::vector<std::uint8_t> data = EncodedScene(static_cast<RowForm>(state.range(0)));
  for (auto _ : state) {
    RgbeBlockDecoder decoder(data.data(), data.size(), kWidth, kRows, 64);
    decoder.UsePlainSteps(state.range(1) != 0);
    while (!decoder.Finished()) {
      if (!decoder.DecodeNext()) {
        state.SkipWithError("the decoder refused the data");
        break;
      }
    }
    benchmark::DoNotOptimize(decoder.Last().E);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kRows);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_RgbeBlockDecoding)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond);

// 64 MB written in blocks of state.range(0) bytes.
void BM_WriteBlocks(benchmark::State& state) {
  const std::size_t total = 64u << 20, block = static_cast<std::size_t>(state.range(0));
  const std::vector<std::uint8_t> bytes(block, 0x5A);
  const std::string path = ScratchPath("write.out");
  for (auto _ : state) {
    BinaryFile file = BinaryFile::CreateForWriting(path);
    for (std::size_t done = 0; done < total; done += block) file.Write(bytes.data(), block);
  }
  RemoveFile(path);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}
BENCHMARK(BM_WriteBlocks)->Arg(3 * 4096)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumivane::bench
