#include "app/ui/text/InfoText.hpp"

#include "platform/bundle/Bundle.hpp"

namespace marrowdale {

QString infoText(const velmor::Bundle& bundle, const char* key) {
    const velmor::coding::Value* value = bundle.objectForInfoDictionaryKey(key);
    const std::string* text = value != nullptr ? value->get<std::string>() : nullptr;
    return text != nullptr ? QString::fromStdString(*text) : QString();
}

} // namespace marrowdale
