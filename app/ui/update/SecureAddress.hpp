#pragma once

#include <QUrl>

namespace marrowdale {

// An address the update layer fetches or opens: https, and a host to reach (not "https:///etc/passwd").
inline bool isSecureAddress(const QUrl& address) {
    return address.isValid() && address.scheme() == u"https" && !address.host().isEmpty();
}

} // namespace marrowdale
