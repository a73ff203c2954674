// The measuring harness: one operator of the operator table on an OpenEXR
// file through the library reader, written as an 8-bit PNG, until the
// command line runs the operators itself (bench/operators.sh uses it).
#pragma once

namespace lumivane::bench {

// lumivane_bench --operator NAME IN.exr OUT.png [PARAMETER=VALUE ...]
// argv[0] is the program, argv[1] "--operator". Returns the exit status.
int WriteOperatorPicture(int argc, char** argv);

}  // namespace lumivane::bench
