#include "cli/bas_Main.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  platform::Startup(argc, argv);
  return bas_Main::Main();
}
