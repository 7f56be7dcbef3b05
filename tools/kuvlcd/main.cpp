// kuvlcd: the command-line front end to the composer, the device library and the service.

#include <string>
#include <vector>

#include "tools/kuvlcd/cli.h"

int main(int argc, char** argv) {
  return kuv::cli::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}
