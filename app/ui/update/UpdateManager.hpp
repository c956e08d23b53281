#pragma once

namespace marrowdale {

// What the interface asks of the update facility.
class UpdateManager {
public:
    virtual ~UpdateManager() = default;
    // The check the user asks for from the menu; its outcome is shown to the user.
    virtual void checkForUpdates() = 0;
};

} // namespace marrowdale
