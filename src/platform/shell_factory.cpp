#include "platform/platform.h"

namespace platform {

// Defined by each platform: the system's own Shell.
std::unique_ptr<ShellObject> CreateSystemShell();

namespace {
ShellFactory g_factory = nullptr;
}

void SetShellFactory(ShellFactory factory) { g_factory = factory; }

std::unique_ptr<ShellObject> CreateShell() {
  return g_factory ? g_factory() : CreateSystemShell();
}

}  // namespace platform
