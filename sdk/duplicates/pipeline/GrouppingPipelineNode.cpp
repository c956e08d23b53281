#include "sdk/duplicates/pipeline/GrouppingPipelineNode.hpp"

namespace sweepkit::pipeline {

velmor::Error identifierError(std::exception_ptr failure, const std::string& path) {
    velmor::Error error = velmor::errorFromException(failure);
    if (error.stringValue(velmor::Error::filePathKey) != nullptr) {
        return error;
    }
    velmor::UserInfo userInfo = error.userInfo();
    userInfo.emplace(velmor::Error::filePathKey, path);
    return velmor::Error(error.domain(), error.code(), std::move(userInfo));
}

} // namespace sweepkit::pipeline
