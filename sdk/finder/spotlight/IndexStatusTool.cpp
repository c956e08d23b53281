#include "sdk/finder/spotlight/IndexStatusTool.hpp"

#include "platform/process/Process.hpp"
#include "platform/text/UTF8.hpp"

namespace sweepkit {

bool IndexStatusTool::isIndexed(const velmor::URL& volume) const {
    return isIndexedFromOutput(velmor::Process::run(executablePath, {"-s", volume.path()}).standardOutput);
}

bool IndexStatusTool::isIndexedFromOutput(std::string_view output) {
    if (!velmor::isValidUTF8(output)) {
        return false;
    }
    return output.find("disabled") == std::string_view::npos &&
           output.find("Error") == std::string_view::npos;
}

} // namespace sweepkit
