#include "app/ui/table/FileIcon.hpp"

#include "platform/fs/Descriptor.hpp"

#include <QApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStyle>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowdale {

namespace {

// Enough for every magic rule the shared MIME database uses on common files.
constexpr std::size_t leadingBytes = 16 * 1024;

const char* inodeTypeName(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return "inode/directory";
    case S_IFLNK:
        return "inode/symlink";
    case S_IFIFO:
        return "inode/fifo";
    case S_IFCHR:
        return "inode/chardevice";
    case S_IFBLK:
        return "inode/blockdevice";
    case S_IFSOCK:
        return "inode/socket";
    default:
        return nullptr;
    }
}

QMimeType typeByName(const QMimeDatabase& database, const QString& name) {
    const auto candidates = database.mimeTypesForFileName(name);
    return candidates.isEmpty() ? database.mimeTypeForName(QStringLiteral("application/octet-stream"))
                                : candidates.front();
}

} // namespace

QMimeType entryMimeType(const std::string& path, mode_t mode) {
    QMimeDatabase database;
    if (const char* inodeType = inodeTypeName(mode)) {
        return database.mimeTypeForName(QString::fromLatin1(inodeType));
    }
    const QString name = QFileInfo(QString::fromStdString(path)).fileName();
    // Reading the content would move the access time, which the table shows and the old-files
    // category goes by: only a descriptor that leaves it alone may read.
    velmor::Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOATIME | O_NONBLOCK | O_CLOEXEC));
    struct ::stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0) {
        return typeByName(database, name);
    }
    if (const char* inodeType = inodeTypeName(status.st_mode)) {
        return database.mimeTypeForName(QString::fromLatin1(inodeType)); // replaced since the scan
    }
    QByteArray data(static_cast<qsizetype>(leadingBytes), Qt::Uninitialized);
    std::size_t filled = 0;
    while (filled < leadingBytes) {
        ssize_t got = ::read(file.get(), data.data() + filled, leadingBytes - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    data.truncate(static_cast<qsizetype>(filled));
    return database.mimeTypeForFileNameAndData(name, data);
}

QIcon fileIcon(const CleanableNode& node) {
    QMimeDatabase database;
    QMimeType type;
    const auto& payload = node.payload();
    if (std::holds_alternative<CleanableNode::NonBrowsableResult>(payload)) {
        type = database.mimeTypeForName(QStringLiteral("inode/directory"));
    } else if (auto tree = std::get_if<sweepkit::FileSystemNode>(&payload); tree && tree->asFolder()) {
        type = database.mimeTypeForName(QStringLiteral("inode/directory"));
    } else {
        const auto& item = tree ? *tree->asItem() : std::get<sweepkit::FileSystemItem>(payload);
        type = entryMimeType(item.url.path(), item.metadata.st_mode);
    }
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) {
        icon = QIcon::fromTheme(type.genericIconName());
    }
    if (icon.isNull()) {
        const bool isFolder = type.name() == QLatin1String("inode/directory");
        icon = QApplication::style()->standardIcon(isFolder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    }
    return icon;
}

} // namespace marrowdale
