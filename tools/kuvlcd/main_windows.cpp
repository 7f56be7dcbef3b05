// kuvlcd.exe: the command-line front end to the composer, the device library and the service.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/wide_text.h"
#include "tools/kuvlcd/cli.h"

// wmain (-municode): the arguments as typed, whatever the console's code page, turned into UTF-8
// once here.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(kuv::NarrowText(argv[i]));
  // The bytes the verbs write go out as they are: a PNG or PBM on stdout must not gain a CR
  // before each LF, and the text and JSON stay those of the Linux build.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // The console shows what is printed as UTF-8.
  SetConsoleOutputCP(CP_UTF8);
  return kuv::cli::RunCommandLine(args);
}
