// lumivane_bench: the micro-benchmarks, and a writer of large synthetic
// Radiance files for bench/compare.sh:
//
//   lumivane_bench [benchmark options]
//   lumivane_bench --make-hdr WIDTH HEIGHT OUTPUT.hdr
//   lumivane_bench --operator NAME IN.exr OUT.png [PARAMETER=VALUE ...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/operatorpicture.h"
#include "bench/synthetic.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--make-hdr") == 0) {
    if (argc != 5) {
      std::fprintf(stderr, "usage: %s --make-hdr WIDTH HEIGHT OUTPUT.hdr\n", argv[0]);
      return 2;
    }
    const unsigned long width = std::strtoul(argv[2], nullptr, 10);
    const unsigned long height = std::strtoul(argv[3], nullptr, 10);
    if (width < 8 || width > 32767 || height < 1 || height > 65535) {
      std::fprintf(stderr, "width must be 8 .. 32767 and height 1 .. 65535\n");
      return 2;
    }
    if (!lumivane::bench::WriteSyntheticHdr(argv[4], static_cast<std::uint32_t>(width),
                                            static_cast<std::uint32_t>(height))) {
      std::fprintf(stderr, "cannot write %s\n", argv[4]);
      return 1;
    }
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--operator") == 0) {
    return lumivane::bench::WriteOperatorPicture(argc, argv);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
