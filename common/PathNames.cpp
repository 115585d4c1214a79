#include "PathNames.h"

namespace imbrex {

std::string replaceExtension(const std::string &path, std::string_view extension)
{
    const size_t separator = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    std::string result;
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        result = path + ".";
    else
        result = path.substr(0, dot + 1);
    result += extension;
    return result;
}

} // namespace imbrex
