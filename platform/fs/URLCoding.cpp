#include "platform/fs/URLCoding.hpp"

namespace velmor::coding {

Value Coding<URL>::encode(const URL& url) {
    return Object{{"relative", url.absoluteString()}};
}

URL Coding<URL>::decode(const Decoder& decoder) {
    auto text = decoder.decode<std::string>("relative");
    URL url = URL::fromAbsoluteString(text);
    if (url.isEmpty()) {
        decoder["relative"].dataCorrupted("Invalid URL string.");
    }
    return url;
}

} // namespace velmor::coding
