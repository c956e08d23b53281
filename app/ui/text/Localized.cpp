#include "app/ui/text/Localized.hpp"

#include "app/ui/text/DisplayText.hpp"
#include "platform/bundle/Bundle.hpp"

namespace marrowdale {

QString localized(const std::string& key) {
    return QString::fromStdString(velmor::Bundle::main().localizedString(key));
}

QString localized(const std::string& key, const std::string& argument) {
    return displayText(velmor::Bundle::main().localizedString(key, argument));
}

} // namespace marrowdale
