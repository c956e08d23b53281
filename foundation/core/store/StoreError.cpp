#include "foundation/core/store/StoreError.hpp"

namespace velmor {

StoreError StoreError::invalidName(const std::string& name) {
    std::string shown;
    for (char c : name) {
        shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    }
    return StoreError(Code::invalidName, "Invalid store name \"" + shown +
                                             "\": a name must not be empty, \".\" or \"..\", nor hold \"/\" "
                                             "or NUL.");
}

StoreError StoreError::noBaseFolder() {
    return StoreError(Code::noBaseFolder,
                      "The store has no folder: no caches folder was found, since neither "
                      "XDG_CACHE_HOME nor HOME names an absolute path and the password "
                      "database gives no home folder.");
}

Error StoreError::toError() const {
    return Error(domain, static_cast<std::int64_t>(code_), {{Error::localizedDescriptionKey, description_}});
}

} // namespace velmor
