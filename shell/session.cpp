#include "steps/session.h"

#include "shell/dispatch.h"
#include "steps/statuslog.h"

namespace lumivane {

Session::Session(WindowSystem& window)
    : Window(window),
      Clock(LocalClockSeconds),
      Chains(DefaultJobChains()),
      ImageChains(ImageJobChains()) {}

}  // namespace lumivane
