#include "bench/operatorpicture.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/pngwriter.h"
#include "imaging/operatortable.h"
#include "io/binaryfile.h"
#include "io/parallel.h"
#include "tests/support/operatorrun.h"

namespace lumivane::bench {

namespace {

bool ParseValues(int argc, char** argv, OperatorValues& values) {
  for (int i = 5; i < argc; ++i) {
    const std::string setting = argv[i];
    const std::size_t equals = setting.find('=');
    if (equals == std::string::npos) return false;
    char* end = nullptr;
    const double value = std::strtod(setting.c_str() + equals + 1, &end);
    if (*end != '\0') return false;
    values[setting.substr(0, equals)] = value;
  }
  return true;
}

}  // namespace

int WriteOperatorPicture(int argc, char** argv) {
  OperatorValues values;
  if (argc < 5 || !ParseValues(argc, argv, values)) {
    std::fprintf(stderr, "usage: %s --operator NAME IN.exr OUT.png [PARAMETER=VALUE ...]\n",
                 argv[0]);
    return 2;
  }
  std::string error;
  const auto picture = testing::RunOperator(argv[2], values, argv[3], WorkerThreadCount(), error);
  if (!picture) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  for (const std::string& line : picture->Log) std::fprintf(stderr, "%s\n", line.c_str());
  BinaryFile file = BinaryFile::CreateOutput(argv[4]);
  auto sink = file.IsOpen() ? OpenPngSink(file, picture->Width, picture->Height, {}, false, error)
                            : nullptr;
  if (!sink || !sink->WriteRows(picture->Rgb.data(), picture->Height, error) ||
      !sink->Finish(error) || !file.Commit()) {
    std::fprintf(stderr, "cannot write %s %s\n", argv[4], error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace lumivane::bench
