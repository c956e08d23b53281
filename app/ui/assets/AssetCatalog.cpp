#include "app/ui/assets/AssetCatalog.hpp"

#include "foundation/core/log/OSLogLogger.hpp"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace marrowdale {

namespace {

const QString root = QStringLiteral(":/assets/");

// "#RRGGBBAA", the catalogue's notation (Qt's own eight-digit form puts alpha first).
std::optional<QColor> parseColor(const QString& text) {
    if (text.size() != 9 || !text.startsWith('#')) {
        return std::nullopt;
    }
    bool ok = false;
    const uint value = text.mid(1).toUInt(&ok, 16);
    if (!ok) {
        return std::nullopt;
    }
    return QColor(int(value >> 24), int((value >> 16) & 0xff), int((value >> 8) & 0xff), int(value & 0xff));
}

std::shared_ptr<velmor::Logger> logger() {
    return std::make_shared<velmor::OSLogLogger>("Assets");
}

} // namespace

const AssetCatalog& AssetCatalog::shared() {
    static const AssetCatalog catalog;
    return catalog;
}

AssetCatalog::AssetCatalog() {
    QFile file(root + "colors.json");
    if (!file.open(QIODevice::ReadOnly)) {
        logger()->error([] { return std::string("The colour catalogue is missing from the program"); });
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        logger()->error(
            [&] { return "The colour catalogue cannot be read: " + parseError.errorString().toStdString(); });
        return;
    }
    const QJsonObject entries = document.object();
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        auto dark = parseColor(entry.value().toObject().value(QStringLiteral("dark")).toString());
        if (!dark) {
            logger()->error(
                [&] { return "The colour \"" + entry.key().toStdString() + "\" has no dark value"; });
            continue;
        }
        colors_.emplace(entry.key().toStdString(), *dark);
    }
}

std::optional<QColor> AssetCatalog::color(const std::string& name) const {
    auto found = colors_.find(name);
    if (found == colors_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<QString> AssetCatalog::imagePath(const std::string& name) const {
    QString path = root + QString::fromStdString(name) + ".svg";
    if (!QFile::exists(path)) {
        return std::nullopt;
    }
    return path;
}

void AssetCatalog::reportMissing(const char* kind, const std::string& name) const {
    {
        std::lock_guard lock(reportedMutex_);
        if (!reported_.insert(std::string(kind) + "/" + name).second) {
            return;
        }
    }
    logger()->error(
        [&] { return "No " + std::string(kind) + " named \"" + name + "\" in the asset catalogue"; });
}

} // namespace marrowdale
