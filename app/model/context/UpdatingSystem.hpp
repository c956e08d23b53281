#pragma once

namespace marrowdale {

class UpdateManager;

// The interface's software-update facade. The model only carries it for the views.
class UpdatingSystem {
public:
    virtual ~UpdatingSystem() = default;
    virtual UpdateManager& updateManager() const = 0;
};

} // namespace marrowdale
