#include "app/model/context/Context.hpp"

#include "foundation/core/log/OSLogLogger.hpp"

namespace marrowdale {

Context Context::makeForApplication(std::shared_ptr<UpdatingSystem> updatingSystem) {
    velmor::LoggerFactory factory = [](const std::string& category) -> std::shared_ptr<velmor::Logger> {
        return std::make_shared<velmor::OSLogLogger>(category);
    };
    auto cleaner = Cleaner::make(factory);
    return Context{std::move(factory), std::move(cleaner), std::move(updatingSystem)};
}

} // namespace marrowdale
