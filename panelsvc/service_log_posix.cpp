#include <cstdio>

#include "panelsvc/service_log.h"

namespace kuv::svc {

void LogLine(const std::string& line) {
  std::fprintf(stderr, "panelsvc: %s\n", line.c_str());
}

}  // namespace kuv::svc
