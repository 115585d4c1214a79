// zbitool verify: reads every stored piece of an image and reports what is damaged, without writing anything.
#pragma once

#include <string>
#include <vector>

namespace imbrex::cli {

extern const char *const kVerifyHelp;
int runVerify(const std::vector<std::string> &args);

} // namespace imbrex::cli
