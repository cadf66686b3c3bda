#include "cli/command_line.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  platform::Startup(argc, argv);
  return mklnk::cli::Main();
}
