#include "app/ui/update/UpdateChannel.hpp"

namespace marrowdale {

std::string rawValue(UpdateChannel channel) {
    switch (channel) {
    case UpdateChannel::dogfooding:
        return "dogfooding";
    case UpdateChannel::beta:
        return "beta";
    case UpdateChannel::production:
        return "production";
    }
    return {};
}

std::optional<UpdateChannel> updateChannel(std::string_view raw) {
    for (UpdateChannel channel : {UpdateChannel::dogfooding, UpdateChannel::beta, UpdateChannel::production}) {
        if (raw == rawValue(channel)) {
            return channel;
        }
    }
    return std::nullopt;
}

} // namespace marrowdale
