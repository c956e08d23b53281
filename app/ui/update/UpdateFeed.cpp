#include "app/ui/update/UpdateFeed.hpp"

#include <QXmlStreamReader>

#include <optional>

namespace marrowdale {
namespace {

// The prefix update feeds bind their framework's namespace to.
constexpr QStringView frameworkPrefix = u"sparkle";

struct ItemFields {
    QString enclosureAddress;
    QString attributeVersion;
    QString attributeDisplayVersion;
    QString elementVersion;
    QString elementDisplayVersion;
};

class FeedReader {
public:
    FeedReader(const QByteArray& body, const UpdateVersion& running) : xml_(body), running_(running) {}

    UpdateFeedReading read() {
        if (!readRoot()) {
            return failed();
        }
        while (xml_.readNextStartElement()) {
            if (xml_.name() == u"channel" && xml_.namespaceUri().isEmpty()) {
                readChannel();
            } else {
                skipElement();
            }
        }
        if (xml_.hasError()) {
            return failed();
        }
        if (items_ > 0 && !newest_ && !anyReadable_) {
            reading_.failure = QStringLiteral("None of the %1 items of the update feed has a readable version.")
                                   .arg(items_);
            return failed();
        }
        if (newest_) {
            reading_.kind = UpdateFeedReading::Kind::newer;
            reading_.item = newestItem_;
        } else {
            reading_.kind = UpdateFeedReading::Kind::upToDate;
        }
        return std::move(reading_);
    }

private:
    bool readRoot() {
        if (!xml_.readNextStartElement()) {
            return false;
        }
        noteNamespaces();
        if (xml_.name() != u"rss" || !xml_.namespaceUri().isEmpty()) {
            reading_.failure =
                QStringLiteral("The update feed is not an RSS feed (its root element is <%1>).").arg(xml_.qualifiedName());
            return false;
        }
        return true;
    }

    void readChannel() {
        noteNamespaces();
        while (xml_.readNextStartElement()) {
            if (xml_.name() == u"item" && xml_.namespaceUri().isEmpty()) {
                readItem();
            } else {
                skipElement();
            }
        }
    }

    void readItem() {
        noteNamespaces();
        ++items_;
        ItemFields fields;
        while (xml_.readNextStartElement()) {
            noteNamespaces();
            if (xml_.name() == u"enclosure" && xml_.namespaceUri().isEmpty()) {
                const QXmlStreamAttributes attributes = xml_.attributes();
                fields.enclosureAddress = attributes.value(QLatin1String("url")).toString().trimmed();
                for (const QXmlStreamAttribute& attribute : attributes) {
                    if (!inFrameworkNamespace(attribute.namespaceUri())) {
                        continue;
                    }
                    if (attribute.name() == u"version") {
                        fields.attributeVersion = attribute.value().toString().trimmed();
                    } else if (attribute.name() == u"shortVersionString") {
                        fields.attributeDisplayVersion = attribute.value().toString().trimmed();
                    }
                }
                skipElement();
            } else if (xml_.name() == u"version" && inFrameworkNamespace(xml_.namespaceUri())) {
                fields.elementVersion = readText();
            } else if (xml_.name() == u"shortVersionString" && inFrameworkNamespace(xml_.namespaceUri())) {
                fields.elementDisplayVersion = readText();
            } else {
                skipElement();
            }
        }
        if (!xml_.hasError()) {
            consider(fields);
        }
    }

    void consider(const ItemFields& fields) {
        const QString version = !fields.attributeVersion.isEmpty() ? fields.attributeVersion : fields.elementVersion;
        if (version.isEmpty()) {
            reading_.skipped.push_back(QStringLiteral("Update feed item %1 has no version").arg(items_));
            return;
        }
        const std::optional<UpdateVersion> parsed = UpdateVersion::parse(version.toStdString());
        if (!parsed) {
            reading_.skipped.push_back(
                QStringLiteral("Update feed item %1 has a version that is not dot-separated numbers: \"%2\"")
                    .arg(items_)
                    .arg(version));
            return;
        }
        anyReadable_ = true;
        if (*parsed <= running_ || (newest_ && *parsed <= *newest_)) {
            return;
        }
        newest_ = parsed;
        QString display = !fields.attributeDisplayVersion.isEmpty() ? fields.attributeDisplayVersion
                                                                    : fields.elementDisplayVersion;
        newestItem_ = UpdateItem{version, display.isEmpty() ? version : display,
                                 QUrl(fields.enclosureAddress, QUrl::StrictMode)};
    }

    QString readText() { return xml_.readElementText(QXmlStreamReader::SkipChildElements).trimmed(); }

    void skipElement() { xml_.skipCurrentElement(); }

    // The framework's namespace is whatever the feed binds to its prefix, wherever it declares it.
    void noteNamespaces() {
        for (const QXmlStreamNamespaceDeclaration& declaration : xml_.namespaceDeclarations()) {
            if (declaration.prefix() == frameworkPrefix) {
                frameworkNamespace_ = declaration.namespaceUri().toString();
            }
        }
    }

    bool inFrameworkNamespace(QStringView uri) const {
        return !frameworkNamespace_.isEmpty() && uri == frameworkNamespace_;
    }

    UpdateFeedReading failed() {
        if (reading_.failure.isEmpty()) {
            reading_.failure = QStringLiteral("The update feed is not readable XML: %1 (line %2)")
                                   .arg(xml_.errorString())
                                   .arg(xml_.lineNumber());
        }
        reading_.kind = UpdateFeedReading::Kind::unreadable;
        return std::move(reading_);
    }

    QXmlStreamReader xml_;
    const UpdateVersion& running_;
    UpdateFeedReading reading_;
    QString frameworkNamespace_;
    int items_ = 0;
    bool anyReadable_ = false;
    std::optional<UpdateVersion> newest_;
    UpdateItem newestItem_;
};

} // namespace

UpdateFeedReading readUpdateFeed(const QByteArray& body, const UpdateVersion& running) {
    return FeedReader(body, running).read();
}

} // namespace marrowdale
