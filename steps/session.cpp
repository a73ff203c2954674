#include "steps/session.h"

#include "steps/statuslog.h"

namespace lumivane {

Session::Session(WindowSystem& window) : Window(window), Clock(LocalClockSeconds) {}

}  // namespace lumivane
