#pragma once

#include "app/model/context/UpdatingSystem.hpp"
#include "app/ui/update/UpdateManager.hpp"

#include <memory>
#include <utility>

namespace marrowdale {

// The updating system the context carries: a facade over the program's one update manager.
class SparkleUpdatingSystem : public UpdatingSystem {
public:
    explicit SparkleUpdatingSystem(std::shared_ptr<UpdateManager> updateManager)
        : updateManager_(std::move(updateManager)) {}

    UpdateManager& updateManager() const override { return *updateManager_; }

private:
    std::shared_ptr<UpdateManager> updateManager_;
};

} // namespace marrowdale
