#include "sdk/finder/records/ProcessingError.hpp"

#include "sdk/finder/records/PathText.hpp"

namespace velmor::coding {

Value Coding<sweepkit::ProcessingError>::encode(const sweepkit::ProcessingError& error) {
    return Object{{"errorCode", error.error.code()},
                  {"errorDomain", error.error.domain()},
                  {"path", sweepkit::pathText(error.path)}};
}

sweepkit::ProcessingError Coding<sweepkit::ProcessingError>::decode(const Decoder& decoder) {
    return sweepkit::ProcessingError{
        Error(decoder.decode<std::string>("errorDomain"), decoder.decode<std::int64_t>("errorCode")),
        sweepkit::pathFromText(decoder.decode<std::string>("path"))};
}

} // namespace velmor::coding
